// The faults a CLI can show, one table per phase of a connection (connect,
// login, command, disconnect). Every row checks the outcome and the log
// messages, a time bound, that the next call still behaves, that a restart
// brings a working connection back, and that the row leaves no process,
// zombie, descriptor, pipe file or table slot behind.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <valgrind/valgrind.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "controller/CLIOpController.h"
#include "mediator/ZUBAdaptor.h"
#include "result/OpStatusEnum.h"
#include "support/MediatorFixture.h"
#include "support/ScenarioBuilder.h"
#include "support/TempDir.h"

using ZUB_DEVICE_MEDIATION::CLIResult;
using ZUB_DEVICE_MEDIATION::ZUBAdaptor;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

namespace {

const Lines kReadFailure = {"read from fifo failed!", "Error reading CLI output",
                            "error while parsing response"};
const char kNoConnection[] =
    "failed to send cli command due to no established connection with device : ";

// Blocks until the process `pid` (a child of ours) has ended, without
// reaping it: reaping stays the library's business.
void waitUntilEnded(int pid) {
  siginfo_t info = {};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
}

// Kills the controller's CLI the way another process would, and waits for
// it to be gone.
void killCli(CLIOpController& controller) {
  const int pid = controller.adaptor.getCliPid();
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  waitUntilEnded(pid);
}

bool endsWith(const Lines& all, const Lines& tail) {
  return all.size() >= tail.size() &&
         Lines(all.end() - static_cast<long>(tail.size()), all.end()) == tail;
}

// Every byte value except '<', so the reply reads as plain (untagged) text.
std::string binaryGarbage() {
  std::string bytes;
  for (int value = 0; value < 256; ++value) {
    if (value != '<') bytes += static_cast<char>(value);
  }
  return bytes + "\r\n";
}

// One 1 KiB line of plain text.
std::string block() {
  std::string line;
  while (line.size() < 1022) line += "0123456789abcdef";
  line.resize(1022);
  return line + "\r\n";
}

class FaultMatrix : public MediatorFixture {
 protected:
  void SetUp() override {
    MediatorFixture::SetUp();
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
  }
  void TearDown() override {
    setenv("PATH", savedPath_.c_str(), 1);
    MediatorFixture::TearDown();
  }

  // A command on a mediator that is not logged in: refused, nothing sent.
  void expectRefusedUnconnected(CLIOpController& controller) {
    sim_->clearTranscript();
    logs_->clear();
    CLIResult result;
    controller.forwardCliCommand("", "show version", result);
    EXPECT_TRUE(result.getCurrentExecState().equals(OpStatusEnum::Failed));
    EXPECT_TRUE(result.getState().equals(OpStatusEnum::Failed));
    EXPECT_EQ(logs_->texts(), Lines{kNoConnection});
    EXPECT_TRUE(sim_->transcript().empty());
  }

  // A restart brings up a new CLI that answers a show command, also for a
  // mediator that looks the CLI up along PATH.
  void expectRecovery(CLIOpController& controller) {
    setenv("PATH", (ZUBDM_SIM_DIR ":" + savedPath_).c_str(), 1);
    sim_->setScenario("");
    controller.adaptor.setReplyTimeout(milliseconds(10000));
    ASSERT_TRUE(controller.adaptor.restart());
    CLIResult result;
    controller.forwardCliCommand("", "show interfaces", result);
    EXPECT_TRUE(result.getCurrentExecState().equals(OpStatusEnum::PartialSuccess))
        << result.toString();
    std::string admin;
    EXPECT_EQ(result.getXMLResult().find_value("A", "port", "admin", admin), 1);
    EXPECT_EQ(admin, "up");
  }

  // Once the controller is gone: no child, no pipe file, no descriptor, no
  // slot.
  void expectNothingLeft(int descriptorsBefore) {
    EXPECT_EQ(ProcessState::openDescriptors(), descriptorsBefore);
    EXPECT_EQ(ProcessState::childCount(), 0);
    EXPECT_EQ(sim_->pipeFiles(), Lines{});
    EXPECT_EQ(sim_->readTable(),
              std::vector<unsigned char>(SimulatorEnvironment::TABLE_SIZE, 0));
  }

  std::string savedPath_;
};

}  // namespace

TEST_F(FaultMatrix, ConnectFaultsFailPromptlyAndRestartRecovers) {
  TempDir notExecutable;
  std::ofstream(notExecutable.file("cli")) << "#!/bin/sh\n";
  chmod(notExecutable.file("cli").c_str(), 0644);
  struct Row {
    const char* name;
    std::string path;  // PATH to look "cli" up in; empty: the simulator by its path
    const char* scenario;
    Lines logs;
  } rows[] = {
      {"CLI not on PATH", "/nonexistent", "",
       {"ERROR:CLI Spawn:idx=0,errno=2", "Can't create CLI process",
        "cause: cli (along PATH): No such file or directory"}},
      {"CLI on PATH but not executable", notExecutable.path(), "",
       {"ERROR:CLI Spawn:idx=0,errno=13", "Can't create CLI process",
        "cause: cli (along PATH): Permission denied"}},
      {"CLI exits before opening the pipes", "", R"({"fault": "exit_at_once"})",
       {"Cant open FIFO", "cause: the CLI exited with status 3 before opening " +
                              std::string(sim_->pipe("clPipeW0"))}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (RUNNING_ON_VALGRIND && row.logs.size() == 3) {
      // valgrind runs a spawn whose exec fails as a child that exits.
      std::printf("skipped under valgrind: %s\n", row.name);
      continue;
    }
    const int descriptors = ProcessState::openDescriptors();
    sim_->setCliProgram(row.path.empty() ? ZUBDM_SIM_DIR "/cli" : "cli");
    {
      CLIOpController controller;
      // A CLI that cannot come up fails the connect at once, not after this.
      controller.adaptor.setConnectTimeout(milliseconds(5000));
      if (!row.path.empty()) setenv("PATH", row.path.c_str(), 1);
      sim_->setScenario(row.scenario);
      logs_->clear();
      const Clock::time_point start = Clock::now();
      EXPECT_FALSE(controller.adaptor.connect());
      EXPECT_LT(elapsedMs(start), 1500);
      setenv("PATH", savedPath_.c_str(), 1);
      EXPECT_EQ(logs_->texts(), row.logs);
      EXPECT_FALSE(controller.adaptor.isConnected());
      EXPECT_FALSE(controller.adaptor.isLoggedIn());
      expectRefusedUnconnected(controller);
      expectRecovery(controller);
    }
    expectNothingLeft(descriptors);
  }
}

TEST_F(FaultMatrix, LoginFaultsFailWithinTheTimeOutAndRestartRecovers) {
  const long timeout = 500;
  struct Row {
    const char* name;
    const char* scenario;
    bool connects;
    Lines lastLogs;  // how the connect's log messages end
    long minMs;
  } rows[] = {
      // Depending on timing the user line is still written or already fails.
      {"CLI exits at Login:", R"({"fault": "exit_at_login"})", false,
       {" nmsCliLogin: failed!", "Can't login"}, 0},
      {"CLI never prompts", R"({"fault": "never_prompt"})", false,
       {"read from fifo failed!", "cause: waited 500 ms for \"Login:\"",
        " nmsCliLogin: failed!", "Can't login"},
       timeout},
      {"CLI prompts after the time-out", R"({"login_delay_ms": 3000})", false,
       {"read from fifo failed!", "cause: waited 500 ms for \"Login:\"",
        " nmsCliLogin: failed!", "Can't login"},
       timeout},
      {"CLI exits right after the login", R"({"fault": "exit_after_login"})", true, {}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const int descriptors = ProcessState::openDescriptors();
    {
      CLIOpController controller;
      controller.adaptor.setConnectTimeout(milliseconds(timeout));
      sim_->setScenario(row.scenario);
      logs_->clear();
      const Clock::time_point start = Clock::now();
      EXPECT_EQ(controller.adaptor.connect(), row.connects);
      const long took = elapsedMs(start);
      EXPECT_GE(took, row.minMs);
      EXPECT_LT(took, 3 * timeout);
      EXPECT_TRUE(endsWith(logs_->texts(), row.lastLogs));
      // The pipes are open either way; only a finished login lets commands
      // through, and a second connect changes nothing (and says so).
      EXPECT_TRUE(controller.adaptor.isConnected());
      EXPECT_EQ(controller.adaptor.isLoggedIn(), row.connects);
      EXPECT_EQ(controller.adaptor.connect(), row.connects);
      if (row.connects) {
        waitUntilEnded(controller.adaptor.getCliPid());
        CLIResult result;
        controller.forwardCliCommand("", "show version", result);
        EXPECT_TRUE(result.getState().equals(OpStatusEnum::Failed));
        EXPECT_EQ(result.getErrorList(),
                  Lines{"mode command \"end\" failed: the CLI has gone"});
      } else {
        expectRefusedUnconnected(controller);
      }
      expectRecovery(controller);
    }
    expectNothingLeft(descriptors);
  }
}

TEST_F(FaultMatrix, CommandFaultsFailCleanlyAndTheNextCommandBehaves) {
  // What the command after the fault gets.
  enum class Next { Works, Fails, Refused };
  const size_t cap = ZUBAdaptor::MAX_REPLY_SIZE;
  const std::string big = block();
  const size_t bigRepeat = (64u << 20) / big.size();
  long residentBefore = 0;
  struct Row {
    const char* name;
    std::string scenario;
    std::string context;
    std::string command;
    const OpStatusEnum* stored;
    Lines errors;
    Lines logs;  // exactly what the call logs
    long minMs, maxMs;
    Next next;
    long timeoutMs;
    std::function<void(CLIOpController&)> before;
    std::function<void(CLIResult&)> check;
  } rows[] = {
      {"CLI dies mid-reply",
       ScenarioBuilder()
           .reply("fault", "partial output\r\n", false, R"("fault": "die_mid_reply")")
           .json(),
       "", "fault", &OpStatusEnum::Failed,
       {"no reply from device to: 1 fault (the CLI has gone)"}, kReadFailure, 0, 1000,
       Next::Fails, 400, nullptr, nullptr},
      {"CLI closes its output pipe mid-reply",
       ScenarioBuilder()
           .reply("fault", "partial output\r\n", false, R"("fault": "close_output")")
           .json(),
       "", "fault", &OpStatusEnum::Failed,
       {"no reply from device to: 1 fault (the CLI has gone)"}, kReadFailure, 0, 1000,
       Next::Fails, 400, nullptr, nullptr},
      {"CLI exits without a reply",
       ScenarioBuilder().reply("fault", "", true, R"("fault": "exit")").json(), "",
       "fault", &OpStatusEnum::Failed,
       {"no reply from device to: 1 fault (the CLI has gone)"}, kReadFailure, 0, 1000,
       Next::Fails, 400, nullptr, nullptr},
      {"CLI hangs mid-reply",
       ScenarioBuilder().reply("fault", "half\r\n", false, R"("fault": "hang")").json(),
       "", "fault", &OpStatusEnum::Failed,
       {"timed out waiting for the reply to: 1 fault"}, kReadFailure, 400, 1500,
       Next::Refused, 400, nullptr, nullptr},
      {"CLI answers after the time-out",
       ScenarioBuilder()
           .reply("fault", "late output\r\nHVB#", true, R"("delay_ms": 600)")
           .json(),
       "", "fault", &OpStatusEnum::Failed,
       {"timed out waiting for the reply to: 1 fault"}, kReadFailure, 400, 590,
       Next::Works, 400, nullptr, nullptr},
      {"CLI hangs on the root reset",
       ScenarioBuilder().reply("end", "half\r\n", false, R"("fault": "hang")").json(),
       "", "show version", &OpStatusEnum::Failed,
       {"mode command \"end\" failed: timed out waiting for the reply"},
       {"read from fifo failed!", "Error reading CLI output",
        "error while parsing response",
        "Timeout for waiting cli response after sending CLI: end to device WQT"},
       400, 2000, Next::Refused, 400, nullptr, nullptr},
      {"CLI exits on the context command",
       ScenarioBuilder().reply("configure terminal", "", true, R"("fault": "exit")").json(),
       "configure terminal", "hostname x", &OpStatusEnum::Failed,
       {"mode command \"configure terminal\" failed: the CLI has gone"},
       {"CLI Context Cmd: configure terminal", "read from fifo failed!",
        "Error reading CLI output", "error while parsing response",
        "failed to set context: configure terminal"},
       0, 1000, Next::Fails, 400, nullptr, nullptr},
      {"CLI killed by another process while idle", "", "", "show version",
       &OpStatusEnum::Failed, {"mode command \"end\" failed: the CLI has gone"},
       {"Can't send command"}, 0, 1000, Next::Fails, 400, killCli, nullptr},
      {"binary garbage and NUL bytes",
       ScenarioBuilder().reply("fault", binaryGarbage(), false).json(), "", "fault",
       // Plain text, so the show reader cannot parse it: no error entry.
       &OpStatusEnum::Failed, {}, {}, 0, 1000, Next::Works, 400, nullptr,
       [](CLIResult& result) {
         EXPECT_EQ(result.getMessageList(), std::list<std::string>{binaryGarbage()});
       }},
      {"\"HVB\" inside the output",
       ScenarioBuilder().reply("fault", "left HVB middle # right\r\n", false).json(), "",
       "fault", &OpStatusEnum::Failed, {}, {}, 0, 1000, Next::Works, 400, nullptr,
       [](CLIResult& result) {
         // Output, not a prompt: the reply ends at the real one.
         EXPECT_EQ(result.getMessageList(),
                   std::list<std::string>{"left HVB middle # right\r\n"});
       }},
      {"prompt split across many small writes",
       ScenarioBuilder()
           .reply("fault", "<SHOW><OBJ id=\"A\"><port admin=\"up\"/></OBJ></SHOW>\r\n",
                  false, R"("write_chunk": 1, "then_mode": "config-if")")
           .json(),
       "", "fault", &OpStatusEnum::PartialSuccess, {}, {}, 0, 3000, Next::Works, 3000,
       nullptr,
       [](CLIResult& result) {
         std::string admin;
         EXPECT_EQ(result.getXMLResult().find_value("A", "port", "admin", admin), 1);
         EXPECT_EQ(admin, "up");
       }},
      {"64 MiB reply",
       ScenarioBuilder()
           .reply("fault", big, false, "\"repeat\": " + std::to_string(bigRepeat))
           .json(),
       "", "fault", &OpStatusEnum::Failed, {}, {}, 0, 60000, Next::Works, 60000,
       nullptr,
       [&](CLIResult& result) {
         const std::list<std::string>& messages = result.getMessageList();
         ASSERT_EQ(messages.size(), 1u);
         const std::string& whole = messages.front();
         ASSERT_EQ(whole.size(), bigRepeat * big.size());
         size_t mismatches = 0;
         for (size_t at = 0; at < whole.size(); at += big.size()) {
           mismatches += whole.compare(at, big.size(), big) != 0;
         }
         EXPECT_EQ(mismatches, 0u);
       }},
      {"endless reply without a prompt",
       ScenarioBuilder()
           .reply("fault", std::string(4096, 'x') + "\r\n", false, R"("fault": "endless")")
           .json(),
       "", "fault", &OpStatusEnum::Failed,
       {"the reply exceeded the size cap of " + std::to_string(cap) +
        " bytes (command: 1 fault)"},
       {"CLI response length exceeds the string object's maximum length",
        "error while parsing response"},
       0, 60000, Next::Refused, 60000,
       [&](CLIOpController&) {
         ProcessState::resetPeakResident();
         residentBefore = ProcessState::residentKiB();
       },
       [&](CLIResult& result) {
         EXPECT_TRUE(result.getMessageList().empty());
         // The cap bounds the memory taken however long the CLI writes.
         EXPECT_LT(ProcessState::peakResidentKiB() - residentBefore,
                   static_cast<long>(3 * cap / 1024));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const int descriptors = ProcessState::openDescriptors();
    {
      sim_->setScenario(row.scenario);
      CLIOpController controller;
      ASSERT_TRUE(controller.adaptor.restart());
      controller.adaptor.setReplyTimeout(milliseconds(row.timeoutMs));
      if (row.before) row.before(controller);
      sim_->clearTranscript();
      logs_->clear();
      CLIResult result;
      const Clock::time_point start = Clock::now();
      controller.forwardCliCommand(row.context, row.command, result);
      const long took = elapsedMs(start);
      EXPECT_GE(took, row.minMs);
      EXPECT_LT(took, row.maxMs);
      EXPECT_EQ(logs_->texts(), row.logs);
      EXPECT_TRUE(result.getCurrentExecState().equals(*row.stored))
          << result.getCurrentExecState().toString();
      EXPECT_EQ(result.getErrorList(), row.errors);
      // Nothing of a failed exchange reaches the result's output.
      if (!row.errors.empty()) {
        EXPECT_TRUE(result.getMessageList().empty());
      }
      if (row.check) row.check(result);
      // A failed exchange changes no state: the mediator stays logged in.
      EXPECT_TRUE(controller.adaptor.isLoggedIn());

      // The next command: its own reply, a clean failure, or refused while
      // the CLI is out of step (nothing is written to it then).
      sim_->clearTranscript();
      logs_->clear();
      CLIResult next;
      const Clock::time_point nextStart = Clock::now();
      controller.forwardCliCommand("", "show interfaces", next);
      EXPECT_LT(elapsedMs(nextStart), 2 * row.timeoutMs + 1000);
      std::string admin;
      switch (row.next) {
        case Next::Works:
          EXPECT_TRUE(next.getCurrentExecState().equals(OpStatusEnum::PartialSuccess))
              << next.toString();
          EXPECT_EQ(next.getXMLResult().find_value("A", "port", "admin", admin), 1);
          EXPECT_EQ(admin, "up");
          break;
        case Next::Refused:
          // Stopped at the root reset, which could not be written.
          EXPECT_EQ(logs_->count("Can't send command"), 1);
          EXPECT_TRUE(sim_->transcript().empty());
          EXPECT_TRUE(next.getState().equals(OpStatusEnum::Failed));
          ASSERT_EQ(next.getErrorList().size(), 1u);
          EXPECT_EQ(next.getErrorList()[0].rfind("mode command \"end\" failed: ", 0), 0u);
          break;
        case Next::Fails:
          EXPECT_TRUE(next.getState().equals(OpStatusEnum::Failed));
          EXPECT_EQ(next.getErrorList(),
                    Lines{"mode command \"end\" failed: the CLI has gone"});
          break;
      }
      expectRecovery(controller);
    }
    expectNothingLeft(descriptors);
  }
}

TEST_F(FaultMatrix, DisconnectEndsAnyCliPromptlyAndRestartRecovers) {
  struct Row {
    const char* name;
    const char* scenario;
    bool connect;
    std::function<void(CLIOpController&)> before;
    long minMs, maxMs;
  } rows[] = {
      {"never connected", "", false, nullptr, 0, 200},
      {"CLI idle", "", true, nullptr, 0, 300},
      {"CLI killed by another process while idle", "", true, killCli, 0, 300},
      {"CLI ended by itself", R"({"fault": "exit_after_login"})", true,
       [](CLIOpController& controller) { waitUntilEnded(controller.adaptor.getCliPid()); },
       0, 300},
      // A stopped CLI cannot act on SIGTERM: it is killed after the grace.
      {"CLI stopped", "", true,
       [](CLIOpController& controller) { kill(controller.adaptor.getCliPid(), SIGSTOP); },
       300, 1500},
      {"CLI hung mid-reply",
       R"({"commands": {"fault": {"reply": "half", "fault": "hang"}}})", true,
       [](CLIOpController& controller) {
         controller.adaptor.setReplyTimeout(milliseconds(200));
         CLIResult result;
         controller.forwardCliCommand("", "fault", result);
       },
       0, 300},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const int descriptors = ProcessState::openDescriptors();
    {
      sim_->setScenario(row.scenario);
      CLIOpController controller;
      if (row.connect) {
        ASSERT_TRUE(controller.adaptor.restart());
      }
      if (row.before) row.before(controller);
      logs_->clear();
      const Clock::time_point start = Clock::now();
      EXPECT_TRUE(controller.adaptor.disconnect());
      const long took = elapsedMs(start);
      EXPECT_GE(took, row.minMs);
      EXPECT_LT(took, row.maxMs);
      EXPECT_EQ(logs_->texts(), Lines{});
      EXPECT_FALSE(controller.adaptor.isConnected());
      EXPECT_EQ(controller.adaptor.getCliPid(), -1);
      EXPECT_EQ(ProcessState::childCount(), 0);
      EXPECT_EQ(sim_->pipeFiles(), Lines{});
      EXPECT_EQ(sim_->readTable()[4], 1) << "the slot stays reserved";
      expectRefusedUnconnected(controller);
      expectRecovery(controller);
    }
    expectNothingLeft(descriptors);
  }
}
