#include "controller/CLIOpController.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <valgrind/valgrind.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <locale>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "result/OpStatusEnum.h"
#include "support/MediatorFixture.h"
#include "support/ScenarioBuilder.h"

using ZUB_DEVICE_MEDIATION::CLIResult;
using ZUB_DEVICE_MEDIATION::ZUBContextBuilder;
using Lines = std::vector<std::string>;

namespace {

// Makes the next non-throwing allocation of exactly `failSize` bytes fail,
// so the controller's allocation failures can be exercised.
std::atomic<size_t> failSize{0};

class CLIOpControllerTest : public MediatorFixture {
 protected:
  std::unique_ptr<CLIOpController> connected(const std::string& scenario = "") {
    sim_->setScenario(scenario);
    std::unique_ptr<CLIOpController> controller(new CLIOpController);
    EXPECT_TRUE(controller->adaptor.restart());
    sim_->clearTranscript();
    logs_->clear();
    return controller;
  }
};

// Runs also under ThreadSanitizer (label "concurrency").
class CLIOpControllerConcurrency : public CLIOpControllerTest {};

}  // namespace

void* operator new(size_t size, const std::nothrow_t&) noexcept {
  size_t expected = size;
  if (size != 0 && failSize.compare_exchange_strong(expected, 0)) return nullptr;
  // From the ordinary allocator, so that delete gives it back where it came
  // from (a sanitizer checks that they match).
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

TEST_F(CLIOpControllerTest, OutcomesFollowTheReplyKind) {
  auto controller = connected();
  using ZUB_DEVICE_MEDIATION::FailureKind;
  struct Case {
    const char* name;
    std::string context;
    std::string command;
    Lines wire;                     // lines the CLI received
    const OpStatusEnum* stored;     // getCurrentExecState()
    const OpStatusEnum* reported;   // getState()
    Lines errors;
    size_t messages;
    FailureKind kind;
    std::string prompt;             // the prompt that ended the reply
  } cases[] = {
      {"config command without output", "configure terminal", "hostname edge",
       {"end", "configure terminal", "1 hostname edge"}, &OpStatusEnum::PartialSuccess,
       &OpStatusEnum::Success, {}, 1, FailureKind::None, "HVB(config)#"},
      {"show document in the root mode", "", "show interfaces",
       {"end", "2 show interfaces"}, &OpStatusEnum::PartialSuccess, &OpStatusEnum::Success,
       {}, 1, FailureKind::None, "HVB#"},
      {"plain text does not parse", "", "show version", {"end", "3 show version"},
       &OpStatusEnum::Failed, &OpStatusEnum::Success, {}, 1, FailureKind::None, "HVB#"},
      {"device error", "", "frobnicate", {"end", "4 frobnicate"}, &OpStatusEnum::Failed,
       &OpStatusEnum::Failed,
       {" Device error: Error: Invalid input detected: frobnicate\r\n, Current device "
        "context: HVB#, CLI command: 4 frobnicate  "},
       0, FailureKind::DeviceError, "HVB#"},
      {"a mode command the CLI rejects stops the command", "no-such-mode",
       "show interfaces", {"end", "no-such-mode"}, &OpStatusEnum::Failed,
       &OpStatusEnum::Failed,
       {"mode command \"no-such-mode\" failed: Error: Invalid input detected: "
        "no-such-mode\r\n"},
       0, FailureKind::ModeCommandFailed, ""},
      {"a line break in the command is refused", "configure terminal",
       "hostname edge-1\nhostname X", {}, &OpStatusEnum::Failed, &OpStatusEnum::Failed,
       {"refused: the command holds a line break or NUL: \"hostname edge-1\\nhostname X\""},
       0, FailureKind::Refused, ""},
      {"a NUL in the mode command is refused", std::string("interface A\0B", 13),
       "shutdown", {}, &OpStatusEnum::Failed, &OpStatusEnum::Failed,
       {"refused: the mode command holds a line break or NUL: \"interface A\\0B\""}, 0,
       FailureKind::Refused, ""},
      {"empty command", "", "", {"end", "8 "}, &OpStatusEnum::PartialSuccess,
       &OpStatusEnum::Success, {}, 1, FailureKind::None, "HVB#"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->clearTranscript();
    CLIResult result;
    controller->forwardCliCommand(c.context, c.command, result);
    EXPECT_EQ(sim_->transcript(), c.wire);
    EXPECT_TRUE(result.getCurrentExecState().equals(*c.stored))
        << result.getCurrentExecState().toString();
    EXPECT_EQ(result.getErrorList(), c.errors);
    EXPECT_EQ(result.getMessageList().size(), c.messages);
    EXPECT_EQ(result.getFailureKind(), c.kind);
    EXPECT_EQ(result.getPrompt(), c.prompt);
    EXPECT_TRUE(result.getState().equals(*c.reported));
  }
}

TEST_F(CLIOpControllerTest, ShowOutputIsParsedAndSearchable) {
  auto controller = connected();
  CLIResult result;
  controller->forwardCliCommand("", "show interfaces", result);
  std::string value;
  EXPECT_EQ(result.getXMLResult().find_value("A", "port", "admin", value), 1);
  EXPECT_EQ(value, "up");

  // Shut A down in its own mode (three steps deep), then look again.
  std::vector<std::string> enter;
  ASSERT_EQ(controller->getContextBuilder()->getContextCLI(enter, "config-if", "A", ""), 1);
  CLIResult change;
  controller->forwardCliCommand(enter, "shutdown", change);
  EXPECT_TRUE(change.getState().equals(OpStatusEnum::Success));
  CLIResult after;
  controller->forwardCliCommand("", "show interfaces", after);
  EXPECT_EQ(after.getXMLResult().find_value("A", "port", "admin", value), 1);
  EXPECT_EQ(value, "down");
}

TEST_F(CLIOpControllerTest, FailuresInTheReplyAreReportedNeverHidden) {
  using ZUB_DEVICE_MEDIATION::FailureKind;
  const std::string document =
      "<SHOW><OBJ id=\"A\"><info description=\"Error: user text\"/></OBJ></SHOW>\r\n";
  struct Row {
    const char* name;
    std::string scenario;
    size_t cap;                    // reply size cap (0: the default)
    Lines errors;                  // as stored; the first may be a prefix
    FailureKind kind;
    Lines messages;
  } rows[] = {
      {"the root reset leaves the CLI in another mode",
       ScenarioBuilder().reply("end", "HVB(config)#").json(), 0,
       {"mode command \"end\" failed: its reply ended at \"HVB(config)#\", not at the root "
        "prompt \"HVB#\""},
       FailureKind::ModeCommandFailed, {}},
      {"a show document cut short",
       ScenarioBuilder().reply("x", "<SHOW><OBJ id=\"A\">\r\nHVB#").json(), 0,
       {"broken show document: "}, FailureKind::DeviceError, {"<SHOW><OBJ id=\"A\">\r\n"}},
      {"\"Error:\" inside the document is data",
       ScenarioBuilder().reply("x", document + "HVB#").json(), 0, {}, FailureKind::None,
       {document}},
      {"plain output with \"<\" is kept whole",
       ScenarioBuilder().reply("x", "Uptime < 1 day\r\nHVB#").json(), 0, {},
       FailureKind::None, {"Uptime < 1 day\r\n"}},
      {"a reply over the cap names the cap",
       ScenarioBuilder().reply("x", std::string(3000, 'y') + "\r\nHVB#").json(), 1000,
       {"the reply exceeded the size cap of 1000 bytes (command: 1 x)"},
       FailureKind::ReplyTooLarge, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto controller = connected(row.scenario);
    if (row.cap != 0) controller->adaptor.setMaxReplySize(row.cap);
    CLIResult result;
    controller->forwardCliCommand("", "x", result);
    EXPECT_EQ(result.getFailureKind(), row.kind);
    EXPECT_EQ(result.getState().equals(OpStatusEnum::Success), row.errors.empty());
    ASSERT_EQ(result.getErrorList().size(), row.errors.size());
    for (size_t i = 0; i < row.errors.size(); ++i) {
      EXPECT_EQ(result.getErrorList()[i].rfind(row.errors[i], 0), 0u)
          << result.getErrorList()[i];
    }
    const std::list<std::string>& held = result.getMessageList();
    EXPECT_EQ(Lines(held.begin(), held.end()), row.messages);
  }
}

TEST_F(CLIOpControllerTest, MemoryThatRunsOutFailsTheCommandNotTheHost) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "an address-space limit cannot be set under a sanitizer";
#endif
  if (RUNNING_ON_VALGRIND) GTEST_SKIP() << "valgrind keeps its own address space";
  using ZUB_DEVICE_MEDIATION::FailureKind;
  const struct {
    const char* name;
    const char* command;
    FailureKind nextKind;  // the command after it: a fault (refused) or none
  } rows[] = {
      // Memory runs out while the reply is read: like the size cap, nothing
      // after it can be trusted until the mediator is restarted.
      {"while the reply is read", "show bulk 128M", FailureKind::OutOfMemory},
      // The reply was read whole, but cannot be stored: only it fails.
      {"while the reply is stored", "show bulk 40M", FailureKind::None},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // The limit is the whole process's: it is set in a child of the test.
    const pid_t child = fork();
    if (child == 0) {
      std::ifstream status("/proc/self/status");
      std::string field;
      long sizeKiB = 0;
      while (status >> field && field != "VmSize:") {
      }
      status >> sizeKiB;
      const rlim_t limit = (static_cast<rlim_t>(sizeKiB) << 10) + (80u << 20);
      const struct rlimit bound = {limit, limit};
      setrlimit(RLIMIT_AS, &bound);
      int failures = 0;
      {
        auto controller = connected();
        CLIResult result;
        controller->forwardCliCommand("", row.command, result);
        failures += result.getFailureKind() != FailureKind::OutOfMemory;
        failures += result.getErrorList().size() != 1;
        CLIResult next;
        controller->forwardCliCommand("", "show version", next);
        failures += next.getFailureKind() != row.nextKind;
        failures += !controller->adaptor.restart();
      }
      _exit(failures);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the child died: " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

TEST_F(CLIOpControllerTest, ModeListIsSentInOrderOfUseWithoutTheTrailingEnd) {
  auto controller = connected();
  std::vector<std::string> enter;
  ASSERT_EQ(controller->getContextBuilder()->getContextCLI(enter, "config-if", "B", ""), 1);
  ASSERT_EQ(enter, (Lines{"interface B", "configure terminal", "end"}));
  CLIResult result;
  controller->forwardCliCommand(enter, "description uplink", result);
  EXPECT_EQ(sim_->transcript(),
            (Lines{"end", "configure terminal", "interface B", "1 description uplink"}));
  EXPECT_EQ(logs_->count("CLI Context Cmd: configure terminal"), 1);
  EXPECT_EQ(logs_->count("CLI Context Cmd: interface B"), 1);
  EXPECT_TRUE(result.getState().equals(OpStatusEnum::Success));

  sim_->clearTranscript();
  CLIResult root;
  controller->forwardCliCommand(std::vector<std::string>{}, "show version", root);
  EXPECT_EQ(sim_->transcript(), (Lines{"end", "2 show version"}));
}

TEST_F(CLIOpControllerTest, CommandsNumberPerControllerAndWrap) {
  auto first = connected();
  CLIResult result;
  first->forwardCliCommand("", "show version", result);
  first->forwardCliCommand("", "show version", result);
  {
    // A host's global locale that groups digits changes nothing on the wire.
    struct Grouping : std::numpunct<char> {
      char do_thousands_sep() const override { return ','; }
      std::string do_grouping() const override { return "\3"; }
    };
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new Grouping));
    first->setCommandCounter(1233);
    first->forwardCliCommand("", "show version", result);
    std::locale::global(previous);
    EXPECT_EQ(sim_->transcript().back(), "1234 show version");
  }
  first->setCommandCounter(4294967295u);
  first->forwardCliCommand("", "show version", result);
  auto second = connected();
  second->forwardCliCommand("", "show version", result);
  EXPECT_EQ(sim_->transcript(), (Lines{"end", "1 show version"}));
  EXPECT_EQ(first->getCommandCounter(), 0u);
}

TEST_F(CLIOpControllerTest, CommandBeforeTheMediatorIsUpFailsWithoutTraffic) {
  CLIOpController controller;
  CLIResult result;
  logs_->clear();
  controller.forwardCliCommand("configure terminal", "hostname x", result);
  EXPECT_TRUE(sim_->transcript().empty());
  EXPECT_EQ(controller.getCommandCounter(), 1u);
  EXPECT_TRUE(result.getCurrentExecState().equals(OpStatusEnum::Failed));
  EXPECT_TRUE(result.getState().equals(OpStatusEnum::Failed));
  EXPECT_EQ(logs_->texts(),
            Lines{"failed to send cli command due to no established connection with device : "});
}

TEST_F(CLIOpControllerConcurrency, CommandsFromManyThreadsNeverInterleaveOnTheWire) {
  const std::string scenario =
      ScenarioBuilder().reply("slow", "done\r\n", false, R"("delay_ms": 20)").json();
  auto one = connected(scenario);
  auto two = connected(scenario);
  sim_->clearTranscript();
  const int perThread = 5;
  auto run = [&](CLIOpController* controller) {
    for (int i = 0; i < perThread; ++i) {
      CLIResult result;
      controller->forwardCliCommand("configure terminal", "slow", result);
    }
  };
  std::thread a(run, one.get()), b(run, one.get()), c(run, two.get());
  a.join();
  b.join();
  c.join();
  const Lines wire = sim_->transcript();
  ASSERT_EQ(wire.size(), 3u * perThread * 3);
  for (size_t i = 0; i < wire.size(); i += 3) {
    SCOPED_TRACE(i);
    EXPECT_EQ(wire[i], "end");
    EXPECT_EQ(wire[i + 1], "configure terminal");
    EXPECT_NE(wire[i + 2].find(" slow"), std::string::npos);
  }
  EXPECT_EQ(one->getCommandCounter(), 2u * perThread);
  EXPECT_EQ(two->getCommandCounter(), 1u * perThread);
}

TEST_F(CLIOpControllerConcurrency, DisconnectOrRestartFromAnotherThreadCancelsTheCommand) {
  using ZUB_DEVICE_MEDIATION::FailureKind;
  for (const bool restart : {false, true}) {
    SCOPED_TRACE(restart ? "restart" : "disconnect");
    auto controller = connected(
        ScenarioBuilder().reply("slow", "done\r\n", false, R"("delay_ms": 3000)").json());
    CLIResult result;
    std::thread forwarder(
        [&] { controller->forwardCliCommand("", "slow", result); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(restart ? controller->adaptor.restart() : controller->adaptor.disconnect());
    forwarder.join();
    EXPECT_LT(elapsedMs(start), 2000);
    EXPECT_EQ(result.getFailureKind(), FailureKind::Cancelled);
    EXPECT_TRUE(result.getState().equals(OpStatusEnum::Failed));
    // Readable from any thread while commands run.
    EXPECT_EQ(controller->getCommandCounter(), 1u);
    EXPECT_EQ(controller->adaptor.isLoggedIn(), restart);
  }
}

TEST_F(CLIOpControllerTest, DestructionLogsBeforeTheCliIsEnded) {
  auto controller = connected();
  const int pid = controller->adaptor.getCliPid();
  bool aliveAtLog = false;
  setHostLogSink([&](const HostLogRecord& record) {
    if (std::string(record.text) == "CLIOpController deleted") aliveAtLog = kill(pid, 0) == 0;
  });
  controller.reset();
  setHostLogSink({});
  EXPECT_TRUE(aliveAtLog);
}

TEST_F(CLIOpControllerTest, InitFailuresLeaveAControllerThatRefusesCommands) {
  // A memory checker that replaces operator new leaves nothing to inject.
  failSize = 12345;
  void* probe = ::operator new(12345, std::nothrow);
  failSize = 0;
  ::operator delete(probe);
  if (probe != nullptr) GTEST_SKIP() << "allocation failures cannot be injected";
  struct Case {
    const char* name;
    size_t size;
    Lines messages;
  } cases[] = {
      {"no context table", sizeof(ZUBContextBuilder),
       {"CLIOpController: couldn't instantiate context builder",
        "Creation of CLIOpController failed"}},
      {"no driver", sizeof(ZUB_DEVICE_MEDIATION::CmdDriver),
       {"CLIOpController: couldn't instantiate command driver",
        "Creation of CLIOpController failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    logs_->clear();
    failSize = c.size;
    CLIOpController controller;
    failSize = 0;
    EXPECT_EQ(logs_->texts(), c.messages);
    ASSERT_TRUE(controller.adaptor.restart());
    CLIResult result;
    controller.forwardCliCommand("", "show version", result);
    EXPECT_TRUE(result.getState().equals(OpStatusEnum::Failed));
    EXPECT_EQ(controller.init(), 1);
    controller.forwardCliCommand("", "show version", result);
    EXPECT_TRUE(result.getCurrentExecState().equals(OpStatusEnum::Failed));
    EXPECT_EQ(sim_->transcript().back(), "2 show version");
  }
}

TEST_F(CLIOpControllerTest, CallerTextWithPercentSignsIsWrittenVerbatim) {
  const std::string context = "conf %s%n %d%% %";
  const std::string command = "show %x%n%s";
  auto controller = connected(
      ScenarioBuilder().reply(context, "", true, R"("fault": "exit")").json());
  CLIResult failed;
  controller->forwardCliCommand(context, "hostname x", failed);
  EXPECT_EQ(logs_->count("CLI Context Cmd: " + context), 1);
  EXPECT_EQ(logs_->count("failed to set context: " + context), 1);
  EXPECT_EQ(failed.getErrorList(),
            Lines{"mode command \"" + context + "\" failed: the CLI has gone"});

  controller = connected();
  CLIResult rejected;
  controller->forwardCliCommand("", command, rejected);
  ASSERT_EQ(rejected.getErrorList().size(), 1u);
  EXPECT_NE(rejected.getErrorList()[0].find("CLI command: 1 " + command + "  "),
            std::string::npos);
}
