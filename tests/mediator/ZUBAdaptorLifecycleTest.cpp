#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mediator/ZUBAdaptor.h"
#include "support/MediatorFixture.h"
#include "support/ScenarioBuilder.h"

using ZUB_DEVICE_MEDIATION::ZUBAdaptor;

namespace {

const int kEntry = 116;

bool isOurPipe(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode) &&
         (status.st_mode & 0007) == 0 && status.st_uid == geteuid();
}

bool exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

int pidInSlot(const std::vector<unsigned char>& table, int slot) {
  int pid;
  std::memcpy(&pid, table.data() + slot * kEntry + 72, sizeof pid);
  return pid;
}

class ZUBAdaptorLifecycle : public MediatorFixture {};
// Runs also under ThreadSanitizer (label "concurrency").
class ZUBAdaptorConcurrency : public MediatorFixture {};

}  // namespace

TEST_F(ZUBAdaptorLifecycle, ConnectLogsInAndDisconnectTakesItAllDown) {
  {
    ZUBAdaptor adaptor;
    ASSERT_EQ(adaptor.getCliIndex(), 0);
    EXPECT_FALSE(adaptor.isConnected());
    ASSERT_TRUE(adaptor.connect());
    EXPECT_TRUE(adaptor.isConnected());
    EXPECT_TRUE(adaptor.isLoggedIn());
    EXPECT_TRUE(isOurPipe(sim_->pipe("clPipeW0")));
    EXPECT_TRUE(isOurPipe(sim_->pipe("clPipeR0")));
    EXPECT_EQ(pidInSlot(sim_->readTable(), 0), adaptor.getCliPid());
    EXPECT_EQ(sim_->transcript(), std::vector<std::string>{"LOGIN root"});

    // Already connected: nothing is written or started.
    const int pid = adaptor.getCliPid();
    EXPECT_TRUE(adaptor.connect());
    EXPECT_EQ(adaptor.getCliPid(), pid);
    EXPECT_EQ(adaptor.login("x", "y"), 0);
    EXPECT_EQ(sim_->transcript().size(), 1u);

    EXPECT_TRUE(adaptor.disconnect());
    EXPECT_FALSE(adaptor.isConnected());
    EXPECT_FALSE(adaptor.isLoggedIn());
    EXPECT_EQ(adaptor.getCliPid(), -1);
    EXPECT_FALSE(exists(sim_->pipe("clPipeW0")));
    EXPECT_FALSE(exists(sim_->pipe("clPipeR0")));
    EXPECT_TRUE(ProcessState::noChildren());
    EXPECT_EQ(sim_->readTable()[4], 1) << "the slot stays reserved";
    EXPECT_TRUE(adaptor.disconnect()) << "nothing recorded: nothing to signal";

    ASSERT_TRUE(adaptor.restart());
    EXPECT_EQ(adaptor.getCliIndex(), 0);
    EXPECT_TRUE(adaptor.isLoggedIn());
  }
  const std::vector<unsigned char> table = sim_->readTable();
  EXPECT_EQ(std::vector<unsigned char>(table.begin(), table.begin() + kEntry),
            std::vector<unsigned char>(kEntry, 0));
  EXPECT_TRUE(logs_->records().empty());
}

TEST_F(ZUBAdaptorLifecycle, PipeNamesCarryTheSlotIndex) {
  std::vector<unsigned char> bytes(SimulatorEnvironment::TABLE_SIZE, 0);
  for (int slot = 0; slot < 14; ++slot) bytes[slot * kEntry + 4] = 1;
  sim_->writeTable(bytes);
  ZUBAdaptor adaptor;
  ASSERT_EQ(adaptor.getCliIndex(), 14);
  ASSERT_TRUE(adaptor.connect());
  EXPECT_TRUE(isOurPipe(sim_->pipe("clPipeW14")));
  EXPECT_TRUE(isOurPipe(sim_->pipe("clPipeR14")));
}

TEST_F(ZUBAdaptorLifecycle, AtMostThreeMediatorsHoldSlots) {
  std::vector<std::unique_ptr<ZUBAdaptor>> holders;
  for (int i = 0; i < 3; ++i) holders.emplace_back(new ZUBAdaptor);
  EXPECT_EQ(holders[2]->getCliIndex(), 2);
  const std::vector<unsigned char> before = sim_->readTable();
  {
    ZUBAdaptor fourth;
    EXPECT_EQ(fourth.getCliIndex(), -1);
    EXPECT_EQ(logs_->count("No free cli index"), 1);
    logs_->clear();
    EXPECT_FALSE(fourth.connect());
    EXPECT_TRUE(logs_->records().empty());
  }
  EXPECT_EQ(sim_->readTable(), before) << "a mediator without slot frees none";
  holders.clear();
  EXPECT_EQ(sim_->readTable(), std::vector<unsigned char>(SimulatorEnvironment::TABLE_SIZE, 0));
}

TEST_F(ZUBAdaptorLifecycle, RepeatedFailedConnectsLeaveNoCliBehind) {
  sim_->setScenario(R"({"fault":"never_prompt"})");
  ZUBAdaptor adaptor;
  adaptor.setConnectTimeout(std::chrono::milliseconds(200));
  EXPECT_FALSE(adaptor.connect());
  EXPECT_FALSE(adaptor.connect() && adaptor.isLoggedIn());
  EXPECT_TRUE(adaptor.disconnect());
  // A failed open leaves the CLI recorded; a second connect ends it before
  // starting the next one.
  sim_->setScenario(R"({"fault":"exit_at_once"})");
  EXPECT_FALSE(adaptor.connect());
  EXPECT_FALSE(adaptor.connect());
  EXPECT_TRUE(adaptor.disconnect());
  EXPECT_TRUE(ProcessState::noChildren());
}

TEST_F(ZUBAdaptorLifecycle, HostIgnoringSigchldIsCopedWith) {
  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &old);
  {
    ZUBAdaptor adaptor;
    EXPECT_TRUE(adaptor.connect());
    EXPECT_TRUE(adaptor.restart());
    EXPECT_TRUE(adaptor.disconnect());
  }
  sigaction(SIGCHLD, &old, nullptr);
}

TEST_F(ZUBAdaptorLifecycle, ForkedChildLeavesTheParentsConnectionAlone) {
  const struct {
    const char* name;
    std::function<bool(std::unique_ptr<ZUBAdaptor>&)> act;  // true: as expected
  } rows[] = {
      {"destroyed in the child", [](std::unique_ptr<ZUBAdaptor>& a) { a.reset(); return true; }},
      {"disconnect in the child", [](std::unique_ptr<ZUBAdaptor>& a) { return a->disconnect(); }},
      {"restart in the child", [](std::unique_ptr<ZUBAdaptor>& a) { return !a->restart(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto adaptor = std::make_unique<ZUBAdaptor>();
    ASSERT_TRUE(adaptor->connect());
    const int cli = adaptor->getCliPid();
    const std::vector<unsigned char> table = sim_->readTable();
    const pid_t child = fork();
    if (child == 0) _exit(row.act(adaptor) ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    // The CLI, its slot and its pipe files are the parent's still.
    EXPECT_EQ(kill(cli, 0), 0);
    EXPECT_EQ(sim_->readTable(), table);
    EXPECT_TRUE(isOurPipe(sim_->pipe("clPipeW0")));
    EXPECT_TRUE(isOurPipe(sim_->pipe("clPipeR0")));
    ZUB_DEVICE_MEDIATION::CLIResponse response;
    EXPECT_TRUE(adaptor->send("end", response));
  }
}

TEST_F(ZUBAdaptorLifecycle, CliStartsCleanInAProcessGroupOfItsOwn) {
  // A CLI program that writes down the signal state it was started with,
  // its process id and its process group.
  const std::string report = sim_->pipe("signals");
  const std::string program = sim_->pipe("report");
  std::ofstream(program) << "#!/bin/sh\n(grep -E '^Sig(Blk|Ign)' /proc/$$/status; "
                         << "echo $$ $(cut -d' ' -f5 /proc/$$/stat)) > " << report << "\n";
  chmod(program.c_str(), 0700);
  sim_->setCliProgram(program);
  struct sigaction ignore = {}, oldHup = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGHUP, &ignore, &oldHup);
  sigset_t usr1, oldMask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &oldMask);
  {
    ZUBAdaptor adaptor;
    adaptor.setConnectTimeout(std::chrono::milliseconds(2000));
    EXPECT_FALSE(adaptor.connect());
  }
  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  sigaction(SIGHUP, &oldHup, nullptr);
  std::ifstream in(report);
  std::string field;
  unsigned long long blocked = 1, ignored = 1;
  long pid = 0, group = -1;
  in >> field >> std::hex >> blocked >> field >> ignored >> std::dec >> pid >> group;
  EXPECT_EQ(group, pid);
  EXPECT_EQ(blocked, 0u);
  // Signals 32 and 33 belong to the C library, which keeps them ignored
  // across posix_spawn; every other one is at its default.
  EXPECT_EQ(ignored & ~0x180000000ull, 0u) << std::hex << ignored;
}

TEST_F(ZUBAdaptorLifecycle, CliThatDiedIsReapedWhenNoticed) {
  const struct {
    const char* name;
    std::string scenario;
    bool killFirst;  // killed by another process before the command
  } rows[] = {
      {"dies in the middle of a reply",
       ScenarioBuilder().reply("x", "half", true, R"("fault": "die_mid_reply")").json(),
       false},
      {"exits instead of replying",
       ScenarioBuilder().reply("x", "", true, R"("fault": "exit")").json(), false},
      {"killed while idle", "", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sim_->setScenario(row.scenario);
    ZUBAdaptor adaptor;
    ASSERT_TRUE(adaptor.connect());
    const int cli = adaptor.getCliPid();
    // Dead but not reaped yet: a zombie child.
    const auto waitForZombie = [cli] {
      siginfo_t info = {};
      waitid(P_PID, static_cast<id_t>(cli), &info, WEXITED | WNOWAIT);
    };
    if (row.killFirst) {
      kill(cli, SIGKILL);
      waitForZombie();
    }
    ZUB_DEVICE_MEDIATION::CLIResponse response;
    EXPECT_FALSE(adaptor.send("x", response));
    EXPECT_EQ(adaptor.getLastFailure(), ZUB_DEVICE_MEDIATION::FailureKind::CliGone);
    // Its output may close a moment before it can be reaped: by the next
    // command at the latest it is, not left a zombie until a restart.
    waitForZombie();
    EXPECT_FALSE(adaptor.send("x", response));
    EXPECT_EQ(ProcessState::childCount(), 0);
  }
}

TEST_F(ZUBAdaptorConcurrency, MediatorsBuiltAtOnceTakeDistinctSlots) {
  for (int round = 0; round < 100; ++round) {
    std::unique_ptr<ZUBAdaptor> made[3];
    std::atomic<int> waiting{3};
    std::thread threads[3];
    for (int t = 0; t < 3; ++t) {
      threads[t] = std::thread([&made, &waiting, t] {
        // Start together, so the reservations overlap.
        --waiting;
        while (waiting.load() > 0) {
        }
        made[t].reset(new ZUBAdaptor);
      });
    }
    for (std::thread& thread : threads) thread.join();
    const std::set<int> slots = {made[0]->getCliIndex(), made[1]->getCliIndex(),
                                 made[2]->getCliIndex()};
    ASSERT_EQ(slots, (std::set<int>{0, 1, 2})) << "round " << round;
  }
  EXPECT_TRUE(logs_->records().empty());
}
