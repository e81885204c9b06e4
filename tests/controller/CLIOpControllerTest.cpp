// The controller against the CLI simulator on a private element. The fault
// matrix first: the faults a CLI can show while a controller connects and
// while it runs a command, each row a test of its own. A row checks the
// outcome and a time bound, what the next command gets, that a disconnect
// then ends whatever the CLI is doing promptly and completely, that a restart
// brings a working connection back and (the fixture) that nothing is left: no
// process, zombie, descriptor, pipe file or slot.
#include <zubdm/controller/CLIOpController.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <valgrind/valgrind.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <locale>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/MediatorFixture.h"
#include "support/ScenarioBuilder.h"

using ZUB_DEVICE_MEDIATION::CLIResult;
using ZUB_DEVICE_MEDIATION::FailureKind;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

namespace {

// What the command after a fault gets: its own reply (""), or this error
// entry with nothing sent.
const char kWorks[] = "";
// Once the CLI has gone, the mediator is down until it is restarted.
const char kCliGone[] = "no established connection with device";
const char kOutOfStep[] = "mode command \"end\" failed: timed out waiting for the reply";
// The next command's reset waits for the rest of a reply that timed out.
const char kStillOwed[] =
    "mode command \"end\" failed: not sent: timed out waiting for the reply (the rest of an "
    "earlier command's reply)";
const char kNotConnected[] = "no established connection with device";
const char kHalfWritten[] =
    "mode command \"end\" failed: not sent: the mediator refuses commands until it is "
    "restarted, since timed out sending the line (the CLI did not read it)";

const long kReplyTimeoutMs = 500;
const long kConnectTimeoutMs = 2000;

// A scenario in which `command` is answered with `bytes` and the reply spec's
// `extra` keys (no prompt added when `raw`).
std::string reply(const std::string& command, const std::string& bytes,
                  const std::string& extra = "", bool raw = false) {
  return ScenarioBuilder().reply(command, bytes, raw, extra).json();
}

class CLIOpControllerTest : public MediatorFixture {
 protected:
  std::unique_ptr<CLIOpController> connected(const std::string& scenario = "") {
    sim_->setScenario(scenario);
    std::unique_ptr<CLIOpController> controller(new CLIOpController);
    EXPECT_TRUE(controller->adaptor.restart());
    sim_->clearTranscript();
    return controller;
  }
  void TearDown() override {
    setenv("PATH", path_.c_str(), 1);
    EXPECT_EQ(sim_->readTable(), std::vector<unsigned char>(SimulatorEnvironment::TABLE_SIZE, 0));
    MediatorFixture::TearDown();
  }

  void expectNext(CLIOpController& controller, const std::string& error) {
    SCOPED_TRACE(error);
    sim_->clearTranscript();
    CLIResult result;
    controller.forwardCliCommand("", "show interfaces", result);
    std::string admin;
    if (error.empty()) {
      EXPECT_EQ(result.getErrorList(), Lines{});
      EXPECT_EQ(result.getXMLResult().find_value("A", "port", "admin", admin), 1);
    } else {
      EXPECT_EQ(result.getErrorList(), Lines{error});
      EXPECT_EQ(sim_->transcript(), Lines{});
    }
  }

  // The next command gets `next`. Then a disconnect ends the CLI, whatever
  // it is doing, at once and silently but keeps the slot; a command is
  // refused; a restart brings up a CLI that answers, also for a mediator that
  // looks it up along PATH.
  void expectNextDisconnectAndRecovery(CLIOpController& controller, const char* next) {
    expectNext(controller, next);
    logs_->clear();
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(controller.adaptor.disconnect());
    EXPECT_LT(elapsedMs(start), 300);
    EXPECT_EQ(logs_->texts(), Lines{});
    EXPECT_EQ(controller.adaptor.getCliPid(), -1);
    EXPECT_TRUE(ProcessState::noChildren());
    EXPECT_EQ(sim_->pipeFiles(), Lines{});
    EXPECT_EQ(sim_->readTable()[4], 1) << "the slot stays reserved";
    expectNext(controller, kNotConnected);
    setenv("PATH", (ZUBDM_SIM_DIR ":" + path_).c_str(), 1);
    sim_->setScenario("");
    controller.adaptor.setReplyTimeout(milliseconds(10000));
    ASSERT_TRUE(controller.adaptor.restart());
    expectNext(controller, kWorks);
  }

  const std::string path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
};

// Runs also under ThreadSanitizer (label "concurrency").
using CLIOpControllerConcurrency = CLIOpControllerTest;
// At full length in `make soak`.
using ControllerSoak = CLIOpControllerTest;

template <typename Row>
class Table : public CLIOpControllerTest, public ::testing::WithParamInterface<Row> {};

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

struct ConnectFault {
  const char* name;
  std::string scenario;
  const char* path;    // PATH to find "cli" in (null: the CLI by its path)
  bool connects;       // connect() succeeds: the login finished
  const char* logged;  // the start of a line logged ("": not checked)
  long minMs, maxMs;   // how long connect() takes
};

const ConnectFault kConnectFaults[] = {
    {"CliNotOnPath", "", "/nonexistent", false,
     "cause: cli (along PATH): No such file or directory", 0, 1000},
    {"CliExitsAtLogin", R"({"fault": "exit_at_login"})", nullptr, false, "Can't login", 0, 1000},
    {"CliPromptsAfterTheTimeOut", R"({"login_delay_ms": 3000})", nullptr, false,
     "cause: waited 2000 ms for \"Login:\"", kConnectTimeoutMs, 3000},
    {"CliExitsRightAfterTheLogin", R"({"fault": "exit_after_login"})", nullptr, true, "", 0, 1000},
};

void PrintTo(const ConnectFault& row, std::ostream* out) { *out << row.name; }
using ConnectFaults = Table<ConnectFault>;
INSTANTIATE_TEST_SUITE_P(FaultMatrix, ConnectFaults, ::testing::ValuesIn(kConnectFaults), kRowName);

TEST_P(ConnectFaults, FailWithinTheirBoundAndRestartRecovers) {
  const ConnectFault& row = GetParam();
  if (RUNNING_ON_VALGRIND && row.path) GTEST_SKIP() << "valgrind runs a failed exec as a child";
  if (row.path) {
    sim_->setCliProgram("cli");
    setenv("PATH", row.path, 1);
  }
  sim_->setScenario(row.scenario);
  CLIOpController controller;
  controller.adaptor.setConnectTimeout(milliseconds(kConnectTimeoutMs));
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(controller.adaptor.connect(), row.connects);
  EXPECT_GE(elapsedMs(start), row.minMs);
  EXPECT_LT(elapsedMs(start), row.maxMs);
  bool logged = !*row.logged;
  for (const std::string& text : logs_->texts()) logged |= text.rfind(row.logged, 0) == 0;
  EXPECT_TRUE(logged) << ::testing::PrintToString(logs_->texts());
  EXPECT_EQ(controller.adaptor.isLoggedIn(), row.connects);
  EXPECT_EQ(controller.adaptor.connect(), row.connects) << "a second connect changes nothing";
  // Until the CLI has ended, without reaping it: that stays the library's business.
  siginfo_t ended = {};
  if (row.connects) waitid(P_PID, controller.adaptor.getCliPid(), &ended, WEXITED | WNOWAIT);
  expectNextDisconnectAndRecovery(
      controller, row.connects ? "mode command \"end\" failed: the CLI has gone: it exited with status 1"
                               : kNotConnected);
}

const char kDocument[] =
    "<SHOW><OBJ id=\"A\"><port admin=\"up\"/><info description=\"Error: x\"/></OBJ></SHOW>\r\n";
const char kGone[] = "the CLI has gone";
const char kTimedOut[] = "timed out waiting for the reply (command: 1 x)";
const char kHang[] = R"("fault": "hang")";

struct Command {
  const char* name;
  std::string scenario;  // "": the simulator's own behaviour
  std::string context;   // the mode command
  std::string command;
  FailureKind kind;
  std::string error;                    // the start of the one error entry ("": none)
  Lines messages;                       // the output
  const char* next = kWorks;            // what the command after it gets
  Lines wire = {"end", "1 x"};          // what the CLI received
  const char* prompt = "HVB#";          // that ended the reply, when one came
  const OpStatusEnum* stored = &OpStatusEnum::Failed;  // getCurrentExecState()
};

const Command kCommands[] = {
    {"ConfigCommandInItsMode", "", "configure terminal", "hostname edge", FailureKind::None, "",
     {""}, kWorks, {"end", "configure terminal", "1 hostname edge"}, "HVB(config)#",
     &OpStatusEnum::PartialSuccess},
    {"EmptyCommand", "", "", "", FailureKind::None, "", {""}, kWorks, {"end", "1 "}, "HVB#",
     &OpStatusEnum::PartialSuccess},
    {"ShowDocumentInOneByteWritesWithErrorTextAsData",
     reply("x", kDocument, R"("write_chunk": 1, "then_mode": "config-if")"), "", "x",
     FailureKind::None, "", {kDocument}, kWorks, {"end", "1 x"}, "HVB(config-if)#",
     &OpStatusEnum::PartialSuccess},
    {"DeviceError", "", "", "frobnicate", FailureKind::DeviceError,
     " Device error: Error: Invalid input detected: frobnicate\r\n, Current device context: "
     "HVB#, CLI command: 1 frobnicate  ",
     {}, kWorks, {"end", "1 frobnicate"}},
    {"ShowDocumentCutShort", reply("x", "<SHOW><OBJ id=\"A\">\r\n"), "", "x",
     FailureKind::DeviceError, "broken show document: ", {"<SHOW><OBJ id=\"A\">\r\n"}},
    {"ModeCommandRejected", "", "no-such-mode", "x", FailureKind::ModeCommandFailed,
     "mode command \"no-such-mode\" failed: Error: Invalid input detected: no-such-mode\r\n", {},
     kWorks, {"end", "no-such-mode"}},
    // Refused without "Error:": the CLI stays where it was.
    {"ModeCommandLeavesThePromptAsItWas", reply("interface Z", "% Unknown interface Z\r\n"),
     "interface Z", "x", FailureKind::ModeCommandFailed,
     "mode command \"interface Z\" failed: the CLI stayed at \"HVB#\": % Unknown interface Z",
     {}, kWorks, {"end", "interface Z"}},
    // Silent, or with only its echo: it changed no mode on purpose.
    {"EndAsTheModeCommandLeadsToTheRoot", reply("x", "ok\r\n"), "end", "x", FailureKind::None,
     "", {"ok\r\n"}, kWorks, {"end", "end", "1 x"}},
    {"ModeCommandThatChangesNoModeEchoed",
     R"({"echo": true, "commands": {"no interface A ": {"reply": ""}, "x": {"reply": "ok\r\n"}}})",
     "no interface A ", "x", FailureKind::None, "", {"ok\r\n"}, kWorks,
     {"end", "no interface A ", "1 x"}},
    {"RootResetEndsInAnotherMode",
     R"({"exchanges": [{"command": "end", "raw": true, "reply": "HVB(config)#",
                        "then_mode": "config"}]})",
     "", "x", FailureKind::ModeCommandFailed,
     "mode command \"end\" failed: its reply ended at \"HVB(config)#\", not at the root prompt "
     "\"HVB#\"",
     {}, kWorks, {"end"}},
    {"LineBreakInTheCommand", "", "configure terminal", "a\nb", FailureKind::Refused,
     "refused: the command holds a line break or NUL: \"a\\nb\"", {}, kWorks, {}},
    {"NulInTheModeCommand", "", std::string("interface A\0B", 13), "x", FailureKind::Refused,
     "refused: the mode command holds a line break or NUL: \"interface A\\0B\"", {}, kWorks,
     {}},
    {"CliDiesMidReply", reply("x", "partial\r\n", R"("fault": "die_mid_reply")"), "", "x",
     FailureKind::CliGone, kGone, {}, kCliGone},
    {"CliExitsWithoutAReply", reply("x", "", R"("fault": "exit")", true), "", "x",
     FailureKind::CliGone, kGone, {}, kCliGone},
    {"CliClosesItsOutputMidReply", reply("x", "partial\r\n", R"("fault": "close_output")"), "",
     "x", FailureKind::CliGone, kGone, {}, kCliGone},
    // Caller text goes to the log verbatim, never as a format.
    {"CliExitsOnTheModeCommand", reply("conf %s%n %d%%", "", R"("fault": "exit")", true),
     "conf %s%n %d%%", "x", FailureKind::CliGone,
     "mode command \"conf %s%n %d%%\" failed: the CLI has gone", {}, kCliGone,
     {"end", "conf %s%n %d%%"}},
    {"CliHangsMidReply", reply("x", "half\r\n", kHang), "", "x", FailureKind::TimedOut,
     kTimedOut, {}, kStillOwed},
    {"CliHangsOnTheRootReset", reply("end", "half\r\n", kHang), "", "x", FailureKind::TimedOut,
     kOutOfStep, {}, kStillOwed, {"end"}},
    {"CliStopsReadingDuringALongCommand",
     reply("stop", "", R"("fault": "stop_reading", "then_mode": "config")"),
     "stop", std::string(256 << 10, 'y'), FailureKind::TimedOut,
     "timed out sending the line (the CLI did not read it) (command: 1 yyy", {}, kHalfWritten,
     {"end", "stop"}},
    // The late reply is dropped, not taken for the next command's root reset.
    {"CliAnswersAfterTheTimeOut", reply("x", "late\r\nHVB(config)#", R"("delay_ms": 900)", true),
     "", "x", FailureKind::TimedOut, kTimedOut, {}},
};

void PrintTo(const Command& row, std::ostream* out) { *out << row.name; }
using CommandFaults = Table<Command>;
INSTANTIATE_TEST_SUITE_P(FaultMatrix, CommandFaults, ::testing::ValuesIn(kCommands), kRowName);

TEST_P(CommandFaults, OutcomeFollowsTheReplyAndTheNextCommandBehaves) {
  const Command& row = GetParam();
  sim_->setScenario(row.scenario);
  CLIOpController controller;
  ASSERT_TRUE(controller.adaptor.restart());
  controller.adaptor.setReplyTimeout(milliseconds(kReplyTimeoutMs));
  sim_->clearTranscript();
  CLIResult result;
  const Clock::time_point start = Clock::now();
  controller.forwardCliCommand(row.context, row.command, result);
  const bool timedOut = row.kind == FailureKind::TimedOut;
  EXPECT_GE(elapsedMs(start), timedOut ? kReplyTimeoutMs : 0);
  EXPECT_LT(elapsedMs(start), timedOut ? kReplyTimeoutMs + 350 : 1000);
  EXPECT_EQ(sim_->transcript(), row.wire);
  EXPECT_EQ(result.getFailureKind(), row.kind);
  Lines errors = result.getErrorList();  // their starts
  for (std::string& error : errors) error.resize(std::min(error.size(), row.error.size()));
  EXPECT_EQ(errors, row.error.empty() ? Lines{} : Lines{row.error});
  EXPECT_EQ(Lines(result.getMessageList().begin(), result.getMessageList().end()), row.messages);
  const bool replied = row.kind == FailureKind::None || row.kind == FailureKind::DeviceError;
  EXPECT_EQ(result.getPrompt(), replied ? row.prompt : "");
  EXPECT_EQ(result.getCurrentExecState().toString(), row.stored->toString());
  EXPECT_EQ(result.getState().equals(OpStatusEnum::Failed), !row.error.empty());
  // A failed exchange changes no state, but a CLI known to have gone is.
  EXPECT_EQ(controller.adaptor.isLoggedIn(), row.kind != FailureKind::CliGone);
  EXPECT_EQ(controller.adaptor.isConnected(), row.kind != FailureKind::CliGone);
  const bool entered = !row.context.empty() && row.kind != FailureKind::Refused;
  EXPECT_EQ(logs_->count("CLI Context Cmd: " + row.context), entered ? 1 : 0);  // verbatim
  expectNextDisconnectAndRecovery(controller, row.next);
}

TEST_F(CLIOpControllerTest, DisconnectKillsAStoppedCliAfterTheGrace) {
  CLIOpController controller;
  ASSERT_TRUE(controller.adaptor.restart());
  ASSERT_GT(controller.adaptor.getCliPid(), 0);
  kill(controller.adaptor.getCliPid(), SIGSTOP);  // it cannot act on SIGTERM
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(controller.adaptor.disconnect());
  EXPECT_GE(elapsedMs(start), 300);
  EXPECT_LT(elapsedMs(start), 1500);
  EXPECT_TRUE(ProcessState::noChildren());
}

}  // namespace

TEST_F(CLIOpControllerTest, CommandsNumberPerControllerEvenWhenRefusedAndWrap) {
  auto first = connected();
  auto second = connected();
  CLIResult result;
  first->forwardCliCommand("", "a\nb", result);  // refused, its number used up
  first->forwardCliCommand("", "x", result);
  // A host's global locale that groups digits changes nothing on the wire.
  struct Grouping : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
  };
  const std::locale host = std::locale::global(std::locale(std::locale::classic(), new Grouping));
  first->setCommandCounter(1233);
  first->forwardCliCommand("", "x", result);
  std::locale::global(host);
  first->setCommandCounter(4294967295u);
  first->forwardCliCommand("", "x", result);
  second->forwardCliCommand("", "x", result);
  EXPECT_EQ(sim_->transcript(), (Lines{"end", "2 x", "end", "1234 x", "end", "0 x", "end", "1 x"}));
}

TEST_F(CLIOpControllerTest, AnEndlessReplyStopsAtTheCapAndA64MiBOneArrivesWhole) {
  std::string line = "\r\n";
  for (size_t i = 0; i < 1022; ++i) line.insert(line.end() - 2, "0123456789abcdef"[i % 16]);
  const size_t repeat = (64u << 20) / line.size();
  auto controller = connected(
      ScenarioBuilder()
          .reply("endless", std::string(4096, 'x') + "\r\n", false, R"("fault": "endless")")
          .reply("big", line, false, "\"repeat\": " + std::to_string(repeat))
          .json());
  // First, while the process's peak memory is low: the cap bounds what is
  // held however long the CLI writes, and fails the command.
  const size_t cap = 16u << 20;
  controller->adaptor.setMaxReplySize(cap);
  CLIResult result;
  const long growth =
      ProcessState::peakGrowthKiB([&] { controller->forwardCliCommand("", "endless", result); });
  EXPECT_EQ(result.getErrorList(),
            Lines{"the reply exceeded the size cap of 16777216 bytes (command: 1 endless)"});
  EXPECT_LT(growth, static_cast<long>(3 * cap / 1024));
  EXPECT_FALSE(controller->adaptor.isReadyForCommand()) << "no prompt in that stream is trusted";
  ASSERT_TRUE(controller->adaptor.restart());
  controller->adaptor.setMaxReplySize(ZUB_DEVICE_MEDIATION::ZUBAdaptor::MAX_REPLY_SIZE);
  CLIResult big;
  controller->forwardCliCommand("", "big", big);
  std::string whole;
  for (size_t i = 0; i < repeat; ++i) whole += line;
  ASSERT_EQ(big.getMessageList().size(), 1u);
  EXPECT_TRUE(big.getMessageList().front() == whole);  // not printed when it fails
}

TEST_F(CLIOpControllerConcurrency, StateGettersAndTimeOutsMayBeUsedWhileCommandsAndRestartsRun) {
  auto controller = connected();
  std::atomic<bool> done{false};
  std::thread monitor([&] {
    ZUB_DEVICE_MEDIATION::ZUBAdaptor& adaptor = controller->adaptor;
    long seen = 0;
    while (!done) {
      seen += adaptor.isLoggedIn() + adaptor.isConnected() + adaptor.getCliPid() +
              adaptor.isReadyForCommand() + static_cast<int>(adaptor.getLastFailure());
      adaptor.setReplyTimeout(adaptor.getReplyTimeout());
    }
    EXPECT_NE(seen, 0);
  });
  for (int i = 1; i <= 20; ++i) {
    CLIResult result;
    controller->forwardCliCommand("", "show version", result);
    EXPECT_EQ(result.getFailureKind(), FailureKind::None);
    if (i % 5 == 0) {
      EXPECT_TRUE(controller->adaptor.restart());
    }
  }
  done = true;
  monitor.join();
}

// Not under ThreadSanitizer: a fork of a process with threads.
TEST_F(CLIOpControllerTest, AForkDuringACommandLeavesTheChildNoLockItCannotTake) {
  auto controller = connected(reply("slow", "done\r\n", R"("delay_ms": 1000)"));
  CLIResult result;
  std::thread forwarder([&] { controller->forwardCliCommand("", "slow", result); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // holds the dispatch mutex
  const pid_t child = fork();
  if (child == 0) {
    alarm(5);  // a lock held by the parent's thread would stop the child here
    CLIResult copied;
    controller->forwardCliCommand("", "x", copied);
    bool ok = copied.getFailureKind() == FailureKind::NotConnected;
    {
      CLIOpController fresh;  // its init() takes the dispatch mutex too
      ok = ok && fresh.adaptor.getCliIndex() != -1;
    }
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  forwarder.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(result.getMessageList().size(), 1u) << "the parent's command was disturbed";
}

TEST_F(CLIOpControllerConcurrency, DisconnectOrRestartFromAnotherThreadCancelsTheCommand) {
  for (const bool restart : {false, true}) {
    SCOPED_TRACE(restart ? "restart" : "disconnect");
    auto controller = connected(
        ScenarioBuilder().reply("slow", "done\r\n", false, R"("delay_ms": 3000)").json());
    CLIResult result;
    std::thread forwarder([&] { controller->forwardCliCommand("", "slow", result); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(restart ? controller->adaptor.restart() : controller->adaptor.disconnect());
    forwarder.join();
    EXPECT_LT(elapsedMs(start), 2000);
    EXPECT_EQ(result.getFailureKind(), FailureKind::Cancelled);
    EXPECT_EQ(controller->getCommandCounter(), 1u);  // readable while a command runs
    EXPECT_EQ(controller->adaptor.isLoggedIn(), restart);
  }
}

// One controller through many connect/disconnect cycles and many forwarded
// commands: descriptors, children and memory must stay flat. The default run
// takes a short soak; ZUBDM_SOAK_CYCLES and ZUBDM_SOAK_COMMANDS lengthen it
// (`make soak`: 1000 cycles, 10000 commands).
TEST_F(ControllerSoak, DescriptorsChildrenAndMemoryStayFlat) {
  const char* cycles = std::getenv("ZUBDM_SOAK_CYCLES");
  const char* commands = std::getenv("ZUBDM_SOAK_COMMANDS");
  // Show output parsed, a mode command, a device error.
  const char* const kinds[][2] = {{"", "show interfaces"}, {"configure terminal", "hostname a"},
                                  {"", "frobnicate"}};
  CLIOpController controller;
  size_t heap = 0;
  int descriptors = 0;
  // The first pass warms up what the allocator and the library keep for
  // reuse; the second must end where the first did.
  for (const bool soak : {false, true}) {
    for (long i = 0; i < (!soak ? 1 : cycles ? std::atol(cycles) : 20); ++i) {
      ASSERT_TRUE(controller.adaptor.connect()) << "cycle " << i;
      ASSERT_TRUE(controller.adaptor.disconnect()) << "cycle " << i;
      ASSERT_TRUE(ProcessState::noChildren()) << "cycle " << i;
    }
    ASSERT_TRUE(controller.adaptor.connect());
    for (long i = 0; i < (!soak ? 9 : commands ? std::atol(commands) : 200); ++i) {
      ZUB_DEVICE_MEDIATION::CLIResult result;
      controller.forwardCliCommand(kinds[i % 3][0], kinds[i % 3][1], result);
      ASSERT_EQ(result.getErrorList().size(), i % 3 == 2 ? 1u : 0u) << "command " << i;
      logs_->clear();  // the trace lines would pile up
    }
    ASSERT_TRUE(controller.adaptor.disconnect());
    if (!soak) descriptors = ProcessState::openDescriptors(), heap = ProcessState::heapInUse();
  }
  EXPECT_EQ(ProcessState::openDescriptors(), descriptors);
  // A leak of a few hundred bytes per command or cycle exceeds this in the
  // long run. A sanitizer hides the heap figures (0); its leak checker stands
  // in for this check there.
  EXPECT_LT(ProcessState::heapInUse(), heap + 256 * 1024);
}
