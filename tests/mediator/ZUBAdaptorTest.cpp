// The mediator against the CLI simulator: its slot, pipe files and CLI
// process; the bytes on the wire, bounded waits and cancel.
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <zubdm/mediator/ZUBAdaptor.h>
#include "support/MediatorFixture.h"
#include "support/ScenarioBuilder.h"

using ZUB_DEVICE_MEDIATION::CLIResponse;
using ZUB_DEVICE_MEDIATION::FailureKind;
using ZUB_DEVICE_MEDIATION::FailureRecord;
using ZUB_DEVICE_MEDIATION::ZUBAdaptor;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

namespace {

const int kEntry = 116;

struct stat statOf(const std::string& path) {
  struct stat status = {};
  lstat(path.c_str(), &status);
  return status;
}

bool isOurPipe(const std::string& path) {
  const struct stat status = statOf(path);
  return S_ISFIFO(status.st_mode) && (status.st_mode & 0007) == 0 && status.st_uid == geteuid();
}

// Blocks until the child `pid` has ended, without reaping it.
void waitForDeath(int pid) {
  siginfo_t info = {};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
}

// A child of the test's own that lives for 3 s, forked to get process id
// `wanted` (which must be free); -1 when the kernel's last-id file cannot be
// written or another process takes the id first every time.
pid_t forkWithId(pid_t wanted) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::ofstream last("/proc/sys/kernel/ns_last_pid");
    if (!(last << wanted - 1 << std::flush)) return -1;
    const pid_t child = fork();
    if (child == 0) sleep(3), _exit(0);
    if (child == wanted) return child;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  return -1;
}

class ZUBAdaptorLifecycle : public MediatorFixture {};
class ZUBAdaptorExchange : public AdaptorFixture {};
// Runs also under ThreadSanitizer (label "concurrency").
class ZUBAdaptorWaitConcurrency : public AdaptorFixture {};

}  // namespace

TEST_F(ZUBAdaptorLifecycle, ConnectLogsInAndDisconnectAndDestructionTakeItAllDown) {
  Bytes table(SimulatorEnvironment::TABLE_SIZE, 0);
  for (int slot = 0; slot < 14; ++slot) table[slot * kEntry + 4] = 1;  // other programs'
  sim_->writeTable(table);
  const std::string write = sim_->pipe("clPipeW14"), read = sim_->pipe("clPipeR14");
  {
    ZUBAdaptor adaptor;
    CLIResponse response;
    EXPECT_TRUE(!adaptor.send("end", response) && adaptor.getLastFailure() == FailureKind::NotConnected);
    EXPECT_TRUE(adaptor.disconnect()) << "never connected";
    // Time-outs past the clock's range are a year, not already over.
    adaptor.setConnectTimeout(std::chrono::milliseconds::max());
    adaptor.setReplyTimeout(std::chrono::milliseconds(-5));
    EXPECT_EQ(adaptor.getConnectTimeout(), std::chrono::hours(24 * 365));
    EXPECT_EQ(adaptor.getReplyTimeout(), std::chrono::milliseconds(0));
    const mode_t mask = umask(0);  // the worst case for the pipes' modes
    const bool connected = adaptor.connect();
    umask(mask);
    ASSERT_TRUE(connected);
    EXPECT_TRUE(isOurPipe(write) && isOurPipe(read));
    int pid;
    std::memcpy(&pid, sim_->readTable().data() + 14 * kEntry + 72, sizeof pid);
    EXPECT_EQ(pid, adaptor.getCliPid());
    // Connected already: nothing is started or written.
    EXPECT_TRUE(adaptor.connect() && adaptor.login("x", "y") == 0 && adaptor.getCliPid() == pid);
    EXPECT_EQ(sim_->transcript(), Lines{"LOGIN root"});
    const Bytes taken = sim_->readTable();
    {
      ZUBAdaptor another;  // no slot is left: it starts nothing and frees nothing
      EXPECT_FALSE(another.connect());
      EXPECT_EQ(another.getLastFailure(), FailureKind::NotConnected);
      EXPECT_EQ(ProcessState::childCount(), 1);
    }
    EXPECT_EQ(sim_->readTable(), taken);
    EXPECT_TRUE(adaptor.disconnect());
    EXPECT_FALSE(adaptor.isConnected() || adaptor.isLoggedIn());
    EXPECT_EQ(statOf(write).st_mode | statOf(read).st_mode, 0u) << "pipe files left";
    EXPECT_TRUE(ProcessState::noChildren());
    EXPECT_EQ(sim_->readTable()[14 * kEntry + 4], 1) << "the slot stays reserved";
    EXPECT_TRUE(adaptor.restart());
  }
  EXPECT_EQ(sim_->readTable(), table) << "the slot is freed, the others untouched";
  const std::string noSlot = "cause: CLI user table " + sim_->tableName() + ": no slot is free";
  EXPECT_EQ(logs_->texts(), (Lines{"Can't send command", "No free cli index", noSlot,
                                   "Can't connect: no CLI user slot was reserved", noSlot}));
}

namespace {
// A host that takes every child's status, the library's CLI included.
void reapEveryChild(int) {
  const int saved = errno;
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  errno = saved;
}
}  // namespace

TEST_F(ZUBAdaptorLifecycle, FailedConnectSaysWhyLeavesNoCliBehindAndTheCliStartedClean) {
  // A CLI that writes down its blocked and ignored signals, its process id
  // and its process group, opens its input pipe and dies before opening its
  // output pipe; meanwhile the host ignores SIGHUP and blocks SIGUSR1.
  const std::string dies = sim_->pipe("dies"), report = sim_->pipe("report");
  std::ofstream(dies) << "#!/bin/sh\n(grep -E '^Sig(Blk|Ign)' /proc/$$/status; echo $$ "
                      << "$(cut -d' ' -f5 /proc/$$/stat)) >" << report << "\nexec 3<"
                      << sim_->pipe("clPipeW0") << "\nexit 7\n";
  chmod(dies.c_str(), 0700);
  // A CLI that asks for the login again after the password.
  const std::string refuses = sim_->pipe("refuses");
  std::ofstream(refuses) << "#!/bin/sh\nexec 3<" << sim_->pipe("clPipeW0") << " 4>"
                         << sim_->pipe("clPipeR0") << "\nprintf 'Login:' >&4; read -r a <&3\n"
                         << "printf 'Password:' >&4; read -r b <&3\n"
                         << "printf '\\r\\nLogin incorrect\\r\\nLogin:' >&4; read -r c <&3\n";
  chmod(refuses.c_str(), 0700);
  const auto hup = signal(SIGHUP, SIG_IGN);
  sigset_t usr1, mask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &mask);
  const struct {
    const char* name;
    std::string program;  // the CLI ("": the simulator)
    std::string scenario;
    FailureKind kind;
    std::string cause;  // logged after the failure
    bool hostReaps;     // the host reaps every child on SIGCHLD
  } rows[] = {
      {"exits at once", "", R"({"fault": "exit_at_once"})", FailureKind::CliGone,
       "the CLI exited with status 3 before opening " + sim_->pipe("clPipeW0"), false},
      {"... its status taken by the host", "", R"({"fault": "exit_at_once"})",
       FailureKind::CliGone, "the CLI ended before opening " + sim_->pipe("clPipeW0"), true},
      {"never prompts", "", R"({"fault": "never_prompt"})", FailureKind::TimedOut,
       "waited 200 ms for \"Login:\"", false},
      {"dies between opening its pipes", dies, "", FailureKind::CliGone,
       "the CLI exited with status 7 while \"Login:\" was waited for", false},
      {"refuses the login", refuses, "", FailureKind::TimedOut,
       "waited 200 ms for the prompt; the CLI's last output: \"\\r\\nLogin incorrect\\r\\nLogin:\"",
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    signal(SIGCHLD, row.hostReaps ? reapEveryChild : SIG_DFL);
    sim_->setCliProgram(row.program.empty() ? ZUBDM_SIM_DIR "/cli" : row.program);
    sim_->setScenario(row.scenario);
    ZUBAdaptor adaptor;
    adaptor.setConnectTimeout(milliseconds(200));
    logs_->clear();
    EXPECT_FALSE(adaptor.connect());
    EXPECT_EQ(adaptor.getLastFailure(), row.kind);
    EXPECT_EQ(logs_->count("cause: " + row.cause), 1) << ::testing::PrintToString(logs_->texts());
    // Once more: a failed login stays failed; a CLI that never opened its
    // pipes is ended before the next one starts.
    EXPECT_FALSE(adaptor.connect());
    EXPECT_TRUE(adaptor.disconnect());
    EXPECT_TRUE(ProcessState::noChildren());
  }
  signal(SIGCHLD, SIG_DFL);
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  signal(SIGHUP, hup);
  std::ifstream in(report);
  std::string field;
  unsigned long long blocked = 1, ignored = 1;
  long pid = 0, group = -1;
  in >> field >> std::hex >> blocked >> field >> ignored >> std::dec >> pid >> group;
  EXPECT_EQ(group, pid) << "not in a process group of its own";
  EXPECT_EQ(blocked, 0u);
  // Signals 32 and 33 belong to the C library, which keeps them ignored
  // across posix_spawn; every other one is at its default.
  EXPECT_EQ(ignored & ~0x180000000ull, 0u) << std::hex << ignored;
}

TEST_F(ZUBAdaptorLifecycle, PlantedPipePathIsRefusedNamedInTheCauseAndLeftAlone) {
  const std::string read = sim_->pipe("clPipeR0");
  ASSERT_EQ(mkfifo(read.c_str(), 0600) | chmod(read.c_str(), 0666), 0);  // open to others
  const ino_t planted = statOf(read).st_ino;
  {
    ZUBAdaptor adaptor;
    EXPECT_FALSE(adaptor.connect());
    EXPECT_EQ(ProcessState::childCount(), 0) << "a CLI was started";
  }
  EXPECT_EQ(logs_->texts(), (Lines{"Can't create read FIFO:" + read,
                                   "cause: " + read + " is a pipe owned by uid " +
                                       std::to_string(geteuid()) +
                                       " with mode 0666, not a pipe of this user closed to "
                                       "others; it is left alone (removing it frees the slot)"}));
  EXPECT_EQ(statOf(read).st_ino, planted);
  EXPECT_EQ(sim_->pipeFiles(), Lines{read}) << "the write pipe is left, or the planted one gone";
  unlink(read.c_str());
}

TEST_F(ZUBAdaptorLifecycle, CliThatDiedFailsTheCommandIsReapedAtOnceAndARestartBringsItBack) {
  enum Death {
    kReplying,
    kKilled,
    kKilledAndReapedByTheHost,
    kKilledWhileSigchldIgnored,
    kKilledThenDisconnected
  };
  const struct {
    const char* name;
    std::string scenario;
    Death death;
  } rows[] = {
      {"dies in the middle of a reply",
       ScenarioBuilder().reply("x", "half", true, R"("fault": "die_mid_reply")").json(), kReplying},
      {"killed while idle", "", kKilled},
      {"killed and reaped by the host", "", kKilledAndReapedByTheHost},
      {"killed while the host ignores SIGCHLD: the kernel reaps it", "", kKilledWhileSigchldIgnored},
      {"killed, then disconnected before any command noticed", "", kKilledThenDisconnected},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sim_->setScenario(row.scenario);
    const auto host = signal(SIGCHLD, row.death == kKilledWhileSigchldIgnored ? SIG_IGN : SIG_DFL);
    const std::shared_ptr<void> restore(nullptr, [host](void*) { signal(SIGCHLD, host); });
    ZUBAdaptor adaptor;
    ASSERT_TRUE(adaptor.connect());
    const int cli = adaptor.getCliPid();
    ASSERT_GT(cli, 0) << "kill() would signal every process";
    if (row.death != kReplying) kill(cli, SIGKILL), waitForDeath(cli);
    if (row.death == kKilledAndReapedByTheHost) waitpid(cli, nullptr, 0);
    CLIResponse response;
    const auto started = Clock::now();
    if (row.death == kKilledThenDisconnected) {
      EXPECT_TRUE(adaptor.disconnect());
    } else {
      EXPECT_TRUE(!adaptor.send("x", response) && adaptor.getLastFailure() == FailureKind::CliGone);
      // Known to have gone: no getter says otherwise, and only restart()
      // starts over.
      EXPECT_FALSE(adaptor.isConnected() || adaptor.isLoggedIn() || adaptor.isReadyForCommand() ||
                   adaptor.connect());
    }
    EXPECT_LT(elapsedMs(started), 300);
    EXPECT_EQ(ProcessState::childCount(), 0) << "noticed, but not reaped then";
    EXPECT_TRUE(adaptor.restart());
  }
}

TEST_F(ZUBAdaptorLifecycle, HostChildWithTheIdOfACliTheHostReapedIsLeftAlone) {
  ZUBAdaptor adaptor;
  ASSERT_TRUE(adaptor.connect());
  const pid_t cli = adaptor.getCliPid();
  ASSERT_GT(cli, 0);
  kill(cli, SIGKILL);
  ASSERT_EQ(waitpid(cli, nullptr, 0), cli);  // the host takes its status
  const pid_t own = forkWithId(cli);
  if (own < 0) GTEST_SKIP() << "process ids cannot be chosen here";
  const auto started = Clock::now();
  EXPECT_TRUE(adaptor.disconnect());
  EXPECT_LT(elapsedMs(started), 1000) << "waited for the host's child";
  EXPECT_EQ(waitpid(own, nullptr, WNOHANG), 0) << "the host's child was signalled or reaped";
  kill(own, SIGKILL);
  waitpid(own, nullptr, 0);
}

TEST_F(ZUBAdaptorLifecycle, ForkedChildLeavesTheParentsConnectionAlone) {
  const struct {
    const char* name;
    std::function<bool(std::unique_ptr<ZUBAdaptor>&)> act;  // true: as expected
  } rows[] = {
      {"destroyed in the child", [](std::unique_ptr<ZUBAdaptor>& a) { return a.reset(), true; }},
      {"disconnect in the child", [](std::unique_ptr<ZUBAdaptor>& a) { return a->disconnect(); }},
      {"restart in the child", [](std::unique_ptr<ZUBAdaptor>& a) { return !a->restart(); }},
      {"a command in the child", [](std::unique_ptr<ZUBAdaptor>& a) {
         CLIResponse response;
         return !a->send("end", response) && a->getLastFailure() == FailureKind::NotConnected;
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto adaptor = std::make_unique<ZUBAdaptor>();
    ASSERT_TRUE(adaptor->connect());
    const Bytes table = sim_->readTable();
    const pid_t child = fork();
    if (child == 0) _exit(row.act(adaptor) ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    // The CLI, its slot and its pipe files are the parent's still.
    EXPECT_EQ(kill(adaptor->getCliPid(), 0), 0);
    EXPECT_EQ(sim_->readTable(), table);
    EXPECT_TRUE(isOurPipe(sim_->pipe("clPipeW0")) && isOurPipe(sim_->pipe("clPipeR0")));
    CLIResponse response;
    EXPECT_TRUE(adaptor->send("end", response));
  }
}

TEST_F(ZUBAdaptorExchange, CliGetsEachLineWithItsLineEndNoLineIsSplitAndTheTranscriptHasEveryByte) {
  sim_->setScenario(ScenarioBuilder()
                        .reply("x", "out\r\nHVB#", true, R"("late": "junk\r\n")")
                        .reply("y", "Error: y\r\nHVB#")
                        .reply("end", "Error: cannot leave\r\nHVB(config)#")
                        .json());
  ZUBAdaptor adaptor;
  std::string sent, received;
  adaptor.setTranscriptSink([&](ZUBAdaptor::Direction direction, std::string_view bytes) {
    (direction == ZUBAdaptor::Direction::ToCli ? sent : received).append(bytes);
  });
  ASSERT_TRUE(adaptor.connect());
  CLIResponse response;
  ASSERT_TRUE(adaptor.send("x", response));
  // The CLI's late bytes reach the pipe after the reply was read.
  std::this_thread::sleep_for(milliseconds(60));
  ASSERT_TRUE(adaptor.send("", response));
  ASSERT_TRUE(adaptor.send("y", response));
  EXPECT_FALSE(adaptor.setDeviceRootContext(response)) << "the CLI's error was not seen";
  // Text that would end its line early is refused: nothing of it is written.
  for (const std::string& text : {std::string("show\nend"), std::string("a\rb"), std::string("a\0b", 3)}) {
    EXPECT_TRUE(!adaptor.send(text, response) && adaptor.getLastFailure() == FailureKind::Refused);
  }
  EXPECT_EQ(sent, "root\r\n****\r\nx\n\r\n\ry\n\rend\n\r");
  // The bytes dropped after a prompt are in it too, and counted in the log.
  EXPECT_EQ(received,
            "Login:Password:HVB#out\r\nHVB#junk\r\nHVB#Error: y\r\nHVB#Error: cannot leave\r\nHVB(config)#");
  const std::string refused = "Can't send command: it holds a line break or NUL: ";
  EXPECT_EQ(logs_->texts(), (Lines{"dropped 4 bytes that the CLI sent after its prompt",
                                   refused + "\"show\\nend\"", refused + "\"a\\rb\"", refused + "\"a\\0b\""}));
  // Each reply is added to what the response holds.
  EXPECT_EQ(response.getResponseList(), (Lines{"out\r\n", ""}));
  EXPECT_EQ(response.getError(), "Error: y\r\n ; Error: cannot leave\r\n");

  // A sink that throws ends the transcript, not the exchange.
  int calls = 0;
  adaptor.setTranscriptSink([&](ZUBAdaptor::Direction, std::string_view) {
    ++calls;
    throw std::runtime_error("full");
  });
  CLIResponse first, second;
  ASSERT_NO_THROW(EXPECT_TRUE(adaptor.send("x", first)));
  std::this_thread::sleep_for(milliseconds(60));
  ASSERT_NO_THROW(EXPECT_TRUE(adaptor.send("", second)));
  EXPECT_EQ(first.getResponseList(), (Lines{"out\r\n"}));
  EXPECT_EQ(calls, 1);
  const Lines logged = logs_->texts();
  ASSERT_GE(logged.size(), 2u);
  EXPECT_EQ(Lines(logged.end() - 2, logged.end()),
            (Lines{"the transcript sink threw; it gets no more bytes",
                   "dropped 4 bytes that the CLI sent after its prompt"}));
}

TEST_F(ZUBAdaptorWaitConcurrency, CancelEndsTheWaitAtOnceAsATimeOutWould) {
  start(ScenarioBuilder().reply("slow", "late\r\nHVB#", true, R"("delay_ms": 1500)").json());
  // Called while nothing waits, it ends the next wait, and only that one.
  adaptor_->cancel();
  CLIResponse response;
  EXPECT_FALSE(adaptor_->send("end", response));
  EXPECT_TRUE(response.isTimeout());
  std::thread canceller([this] {
    std::this_thread::sleep_for(milliseconds(100));
    adaptor_->cancel();
  });
  const auto started = Clock::now();
  EXPECT_FALSE(adaptor_->send("slow", response));
  canceller.join();
  EXPECT_TRUE(elapsedMs(started) < 1000 && adaptor_->getLastFailure() == FailureKind::Cancelled);
  // The late reply is dropped, never taken for the next command's.
  CLIResponse next;
  ASSERT_TRUE(adaptor_->send("end", next));
  EXPECT_EQ(next.getResponseList(), Lines{""});
}

TEST_F(ZUBAdaptorExchange, EchoIsNotOutputAndAReplyOutOfStepFailsUntilTheStreamIsInStepAgain) {
  // Its reply's rest comes a moment later, after the next line was written.
  start(R"({"echo": true, "commands": {"x": {"reply": "part\r\n", "late": "rest\r\nHVB#"},
                                       "y": {"reply": "Error: y\r\n<SHOW\r\n"}}})");
  CLIResponse response;
  ASSERT_TRUE(adaptor_->setDeviceRootContext(response)) << "learns that the CLI echoes";
  response.clearAll();
  ASSERT_TRUE(adaptor_->send("7 x", response));
  EXPECT_EQ(response.getResponseList(), Lines{"part\r\n"}) << "the echo is not output";
  response.clearAll();
  EXPECT_FALSE(adaptor_->send("8 z", response));
  const FailureRecord failure = adaptor_->getFailureRecord();
  EXPECT_EQ(failure.kind, FailureKind::OutOfStep);
  EXPECT_EQ(failure.text.rfind("the reply to \"8 z\" began with \"rest\\r\"", 0), 0u) << failure.text;
  // The stream is drained and the next line's reply is its own again.
  EXPECT_TRUE(adaptor_->setDeviceRootContext(response) && response.getRspContext() == "HVB#");
  response.clearAll();
  ASSERT_TRUE(adaptor_->send("9 y", response));
  EXPECT_EQ(response.getError(), "Error: y\r\n<SHOW\r\n") << "an error line after the echo";
  EXPECT_TRUE(adaptor_->isReadyForCommand());
  // Out of step again while being brought back in step: it cannot be.
  start(R"({"exchanges": [{"command": "end", "raw": true, "reply": "end\r\nHVB#"},
                          {"command": "x", "raw": true, "reply": "other\r\nHVB#"},
                          {"command": "end", "raw": true, "reply": "other\r\nHVB#"}]})");
  CLIResponse again;
  ASSERT_TRUE(adaptor_->setDeviceRootContext(again));
  EXPECT_FALSE(adaptor_->send("1 x", again));
  EXPECT_FALSE(adaptor_->setDeviceRootContext(again)) << "a reset out of step is no reset";
  EXPECT_FALSE(adaptor_->isReadyForCommand()) << "refuses until restart";
}

namespace {
void ignoreAlarm(int) {}
}  // namespace

TEST_F(ZUBAdaptorExchange, HostSignalsNeitherEndAWaitNorMoveItsDeadlineAndLongLinesGoOutWhole) {
  start(ScenarioBuilder()
            .reply("slow", "late\r\nHVB#", true, R"("delay_ms": 300)")
            .reply("never", "", true, R"("fault": "hang")")
            .json());
  // The host's handler, without SA_RESTART, interrupts every wait each 5 ms.
  struct sigaction action = {}, old = {};
  action.sa_handler = ignoreAlarm;
  sigaction(SIGALRM, &action, &old);
  const struct itimerval every5ms = {{0, 5000}, {0, 5000}}, off = {};
  setitimer(ITIMER_REAL, &every5ms, nullptr);
  adaptor_->setReplyTimeout(milliseconds(400));
  CLIResponse response;
  auto started = Clock::now();
  EXPECT_TRUE(adaptor_->send("slow", response)) << "interrupted waits go on";
  EXPECT_EQ(response.getResponseList(), Lines{"late\r\n"});
  started = Clock::now();
  EXPECT_FALSE(adaptor_->send("never", response));
  EXPECT_TRUE(elapsedMs(started) >= 400 && elapsedMs(started) < 900) << elapsedMs(started);
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  // A line longer than the pipe holds reaches a CLI that reads it, whole.
  ASSERT_TRUE(adaptor_->restart());
  sim_->clearTranscript();
  const std::string line(300 * 1024, 'y');
  ASSERT_TRUE(adaptor_->send(line, response));
  EXPECT_EQ(sim_->transcript(), Lines{line});
}
