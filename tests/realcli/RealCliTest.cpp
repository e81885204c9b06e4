// The controller against a real interactive shell: FRR's vtysh under a
// pseudo-terminal (support/vtysh-cli.py plays the element's CLI program),
// on daemons that a CTest fixture runs (support/frr-daemons.sh), with
// hostname HVB and an interface named "HVB-x#1". Unlike the simulator, the
// shell echoes what it is typed, answers "?" with help and a redrawn line,
// reports errors as "% ..." lines and prints a prompt-like name at a line
// start. Each test runs on a private table and pipe directory; suites named
// RealCliConfig* change the daemons' configuration and take turns.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <zubdm/controller/CLIOpController.h>
#include "support/LogCapture.h"
#include "support/ProcessState.h"
#include "support/SimulatorEnvironment.h"

using ZUB_DEVICE_MEDIATION::CLIResult;
using ZUB_DEVICE_MEDIATION::FailureKind;
using ZUB_DEVICE_MEDIATION::failureKindName;
using Lines = std::vector<std::string>;

namespace {

const char kInterface[] = "HVB-x#1";
// Texts that only one command prints.
const char kVersionText[] = "FRRouting 8.4.4 (HVB) on Linux";
const char kBriefText[] = "Interface       Status  VRF";

// The fields of /proc/PID/stat after the command name ("" once it has gone).
std::string statOf(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  return close == std::string::npos ? "" : text.substr(close + 2);
}

// Process ids whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent) {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  while (dirent* entry = proc ? readdir(proc) : nullptr) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::istringstream fields(statOf(entry->d_name));
    char state = 0;
    pid_t ppid = 0;
    if (fields >> state >> ppid && ppid == parent) children.push_back(std::atoi(entry->d_name));
  }
  if (proc) closedir(proc);
  return children;
}

// True once `pid` has gone (or is a zombie left to init), waiting up to 3 s.
bool processGone(pid_t pid) {
  for (int i = 0; i < 150; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    const std::string fields = statOf(std::to_string(pid));
    if (fields.empty() || fields[0] == 'Z') return true;
  }
  return false;
}

std::string outputOf(const CLIResult& result) {
  std::string output;
  for (const std::string& piece : result.getMessageList()) output += piece;
  return output;
}

// What a result says, for failure messages.
std::string describe(CLIResult& result) {
  std::string text = "state " + result.getCurrentExecState().toString() + ", kind " +
                     failureKindName(result.getFailureKind()) + ", prompt '" +
                     result.getPrompt() + "', errors [";
  for (const std::string& error : result.getErrorList()) text += "'" + error + "' ";
  return text + "], output '" + outputOf(result) + "'";
}

bool succeeded(CLIResult& result) { return result.getState().equals(OpStatusEnum::Success); }

class RealCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The fixture's script writes the daemons' directory, or why they cannot
    // run here.
    std::string directory;
    std::getline(std::ifstream(ZUBDM_FRR_STATE_FILE), directory);
    if (directory.rfind("skip: ", 0) == 0) GTEST_SKIP() << directory.substr(6);
    ASSERT_FALSE(directory.empty() || access(directory.c_str(), F_OK) != 0)
        << "the FRR daemons are not running: run the tests through ctest, whose fixture "
           "RealCliDaemons.Start starts them";
    setenv("ZUBDM_FRR_DIR", directory.c_str(), 1);
    element_.reset(new SimulatorEnvironment());
    element_->setCliProgram(ZUBDM_VTYSH_CLI);
    emptyTable_ = element_->readTable();
    logs_.reset(new LogCapture());
    descriptorsBefore_ = ProcessState::openDescriptors();
    controller_.reset(new CLIOpController());
    connect();
  }

  void TearDown() override {
    if (!element_) return;
    controller_.reset();
    for (pid_t pid : started_) EXPECT_TRUE(processGone(pid)) << "process " << pid << " left";
    EXPECT_EQ(ProcessState::openDescriptors(), descriptorsBefore_);
    EXPECT_TRUE(ProcessState::noChildren());
    EXPECT_EQ(element_->pipeFiles(), Lines{});
    EXPECT_EQ(element_->readTable(), emptyTable_) << "the slot is freed";
    logs_.reset();
    element_.reset();
    unsetenv("ZUBDM_FRR_DIR");
  }

  // Brings the connection up (again) and notes the launcher and its vtysh.
  void connect() {
    ASSERT_TRUE(controller_->adaptor.restart());
    ASSERT_TRUE(controller_->adaptor.setErrorPrefixes({"% "}));
    controller_->adaptor.setReplyTimeout(std::chrono::milliseconds(5000));
    launcher_ = controller_->adaptor.getCliPid();
    const std::vector<pid_t> shells = childrenOf(launcher_);
    ASSERT_EQ(shells.size(), 1u) << "the launcher runs one vtysh";
    vtysh_ = shells.front();
    started_.push_back(launcher_);
    started_.push_back(vtysh_);
  }

  // Runs `command` in `mode` (on the interface for "config-if") through the
  // list form.
  void run(const std::string& mode, const std::string& command, CLIResult& result) {
    std::vector<std::string> enter;
    if (!mode.empty()) {
      const char* argument = mode == "config-if" ? kInterface : "";
      ASSERT_EQ(controller_->getContextBuilder()->getContextCLI(enter, mode, argument, ""), 1);
    }
    controller_->forwardCliCommand(enter, command, result);
  }

  std::unique_ptr<SimulatorEnvironment> element_;
  std::unique_ptr<LogCapture> logs_;
  std::unique_ptr<CLIOpController> controller_;
  pid_t launcher_ = -1;
  pid_t vtysh_ = -1;

 private:
  std::vector<unsigned char> emptyTable_;
  std::vector<pid_t> started_;
  int descriptorsBefore_ = 0;
};

class RealCli : public RealCliTest {};

// Takes the configuration back to what the daemons started with.
class RealCliConfig : public RealCliTest {
 protected:
  void TearDown() override {
    if (element_ && controller_) {
      controller_->adaptor.restart();
      CLIResult undoDescription, undoRoute;
      run("config-if", "no description", undoDescription);
      run("config", "no ip route 192.0.2.0/24 Null0", undoRoute);
    }
    RealCliTest::TearDown();
  }
};

// A command's output, in any mode, is its own and whole: never cut at a
// prompt-like name, never begun with the echo of the command; a silent
// command prints nothing at all.
TEST_F(RealCli, EachCommandGetsItsOwnWholeOutputInItsMode) {
  struct Row {
    const char* mode;     // for getContextCLI ("": root)
    const char* command;
    Lines holds;          // texts its output holds, in order (none: it is silent)
    const char* foreign;  // a text only another command prints
  };
  const Row rows[] = {
      {"", "show version", {kVersionText, "configured with:"}, kBriefText},
      {"", "show interface brief", {kBriefText, "\r\nHVB-x#1 ", "\r\nlo "}, kVersionText},
      {"config", "do show version", {kVersionText}, kBriefText},
      {"config-if", "do show interface brief", {kBriefText, "\r\nHVB-x#1 "}, kVersionText},
      {"", "terminal length 0", {}, kVersionText},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    CLIResult result;
    run(row.mode, row.command, result);
    const std::string output = outputOf(result);
    EXPECT_TRUE(succeeded(result)) << describe(result);
    size_t at = 0;
    for (const std::string& text : row.holds) {
      at = output.find(text, at);
      ASSERT_NE(at, std::string::npos) << "no '" << text << "' in order: " << describe(result);
    }
    if (row.holds.empty()) {
      EXPECT_EQ(output, "") << describe(result);
    }
    EXPECT_EQ(output.find(row.foreign), std::string::npos) << describe(result);
    EXPECT_NE(output.rfind(row.command, 0), 0u) << "begins with its echo: " << describe(result);
    if (!*row.mode) {
      EXPECT_EQ(result.getPrompt(), "HVB#") << describe(result);
    }
  }
}

// 1,000 commands in turn, each checked against its own command's text.
TEST_F(RealCli, ThousandAlternatingCommandsEachGetTheirOwnReply) {
  const char* const commands[] = {"show interface brief", "show version"};
  const char* const own[] = {"\r\nlo ", "configured with:"};
  const char* const foreign[] = {kVersionText, kBriefText};
  int wrong = 0;
  std::string first;
  for (int i = 0; i < 1000; ++i) {
    CLIResult result;
    controller_->forwardCliCommand("", commands[i % 2], result);
    const std::string output = outputOf(result);
    if (succeeded(result) && output.find(own[i % 2]) != std::string::npos &&
        output.find(foreign[i % 2]) == std::string::npos) {
      continue;
    }
    if (wrong++ == 0) first = "command " + std::to_string(i) + ": " + describe(result);
  }
  EXPECT_EQ(wrong, 0) << "the first: " << first;
}

// A CLI killed under the controller (vtysh, or the launcher itself) fails the
// next command as gone, with an error entry, and a restart brings a working
// one back.
TEST_F(RealCli, KilledCliFailsTheCommandAndRestartRecovers) {
  for (const bool shell : {true, false}) {
    SCOPED_TRACE(shell ? "vtysh" : "launcher");
    ASSERT_EQ(kill(shell ? vtysh_ : launcher_, SIGKILL), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    CLIResult gone;
    controller_->forwardCliCommand("", "show version", gone);
    EXPECT_TRUE(gone.getFailureKind() == FailureKind::CliGone && !gone.getErrorList().empty())
        << describe(gone);
    connect();
    CLIResult back;
    controller_->forwardCliCommand("", "show version", back);
    EXPECT_TRUE(succeeded(back) && outputOf(back).find(kVersionText) != std::string::npos)
        << describe(back);
  }
}

// Modes entered through the context table's list: each command takes effect
// in its mode, and the running configuration shows it back whole, user text
// holding "Error:" or "<SHOW" as neither an error nor a show document.
TEST_F(RealCliConfig, ModesFromTheContextTableTakeEffectAndUserTextIsJustText) {
  struct Row {
    const char* mode;     // for getContextCLI
    const char* command;  // run there
    const char* shown;    // what show running-config then holds
  };
  const Row rows[] = {
      {"config-if", "description set-by-zubdm", "interface HVB-x#1\r\n description set-by-zubdm\r\n"},
      {"config", "ip route 192.0.2.0/24 Null0", "ip route 192.0.2.0/24 Null0\r\n"},
      {"config-if", "description Error: none", " description Error: none\r\n"},
      {"config-if", "description see <SHOW> docs", " description see <SHOW> docs\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    CLIResult result, config;
    run(row.mode, row.command, result);
    EXPECT_TRUE(succeeded(result)) << describe(result);
    controller_->forwardCliCommand("", "show running-config", config);
    const std::string output = outputOf(config);
    EXPECT_TRUE(succeeded(config)) << describe(config);
    EXPECT_NE(output.find("Current configuration:"), std::string::npos) << describe(config);
    EXPECT_NE(output.find(row.shown), std::string::npos) << describe(config);
    EXPECT_TRUE(output.size() >= 5 && output.compare(output.size() - 5, 5, "end\r\n") == 0)
        << "ends with the configuration's last line: " << describe(config);
  }
}

// A snippet with a line the shell rejects: with "% " as an error prefix
// that line fails as a device error, the lines around it succeed.
TEST_F(RealCliConfig, RejectedLineOfASnippetFailsAsDeviceError) {
  struct Row {
    const char* mode;  // for getContextCLI ("": root)
    const char* command;
    bool rejected;     // vtysh answers "% Unknown command: ..."
  };
  const Row rows[] = {
      {"config-if", "description first line", false},
      {"config-if", "frobnicate the interface", true},
      {"config-if", "description third line", false},
      {"", "show version", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    CLIResult result;
    run(row.mode, row.command, result);
    EXPECT_EQ(succeeded(result), !row.rejected) << describe(result);
    if (!row.rejected) continue;
    const Lines& errors = result.getErrorList();
    EXPECT_TRUE(result.getFailureKind() == FailureKind::DeviceError && !errors.empty() &&
                errors.front().find("% Unknown command") != std::string::npos)
        << describe(result);
  }
}

// "?" makes the shell print help and redraw the line, keeping it as typed:
// the command never succeeds, and nothing more is sent until a restart.
TEST_F(RealCliConfig, QuestionMarkFailsAndTheNextRunsOnlyAfterRestart) {
  CLIResult asked, next, after;
  run("config-if", "description why?", asked);
  EXPECT_FALSE(succeeded(asked)) << describe(asked);
  controller_->forwardCliCommand("", "show version", next);
  EXPECT_EQ(next.getFailureKind(), FailureKind::NotSent) << describe(next);
  connect();
  controller_->forwardCliCommand("", "show version", after);
  EXPECT_TRUE(succeeded(after) && outputOf(after).find(kVersionText) != std::string::npos)
      << describe(after);
}

}  // namespace
