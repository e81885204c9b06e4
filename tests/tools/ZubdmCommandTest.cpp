// The zubdm command as an operator and a script use it, run as a process on
// the test's private element; the signal and shell cases through a
// pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ScenarioBuilder.h"
#include "support/SimulatorEnvironment.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

using Strings = std::vector<std::string>;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

int exitStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// argv and environment of the command: HOME in `home`; `path` replaces PATH
// when not empty, otherwise the simulator's directory comes first on it.
struct Invocation {
  Invocation(const Strings& args, const std::string& home, const std::string& path) {
    all = {ZUBDM_TOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    const char* oldPath = std::getenv("PATH");
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (entry.rfind("HOME=", 0) != 0 && entry.rfind("PATH=", 0) != 0) env.push_back(entry);
    }
    env.push_back("HOME=" + home);
    env.push_back("PATH=" + (path.empty() ? ZUBDM_SIM_DIR ":" + std::string(oldPath ? oldPath : "")
                                          : path));
    for (std::string& arg : all) argv.push_back(&arg[0]);
    for (std::string& entry : env) envp.push_back(&entry[0]);
    argv.push_back(nullptr);
    envp.push_back(nullptr);
  }
  Strings all, env;
  std::vector<char*> argv, envp;
};

// Runs the command with standard input from `input` (a file; empty:
// nothing) and standard output to `outPath` (empty: captured).
ToolRun zubdm(const Strings& args, const std::string& path = "", const std::string& input = "",
              const std::string& outPath = "") {
  TempDir dir;
  const std::string out = outPath.empty() ? dir.file("out") : outPath, err = dir.file("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(),
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
  Invocation call(args, dir.path(), path);
  pid_t pid = -1;
  ToolRun run;
  if (posix_spawn(&pid, call.argv[0], &actions, nullptr, call.argv.data(), call.envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = exitStatus(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (outPath.empty()) run.out = slurp(out);
  run.err = slurp(err);
  return run;
}

// The command on a pseudo-terminal of its own, as in an operator's shell:
// its controlling terminal, so that Ctrl-C typed there is a SIGINT.
class Terminal {
 public:
  // `pipeOut`: standard output is a pipe whose reader has gone.
  Terminal(const Strings& args, bool pipeOut = false) : call_(args, home_.path(), "") {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    const std::string slave = ptsname(master_);
    int out[2] = {-1, -1};
    if (pipeOut) pipe2(out, O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      const int tty = open(slave.c_str(), O_RDWR);
      dup2(tty, 0);
      dup2(pipeOut ? out[1] : tty, 1);
      dup2(tty, 2);
      execve(call_.argv[0], call_.argv.data(), call_.envp.data());
      _exit(127);
    }
    if (pipeOut) close(out[0]), close(out[1]);
  }
  ~Terminal() {
    if (pid_ > 0) kill(pid_, SIGKILL), wait();
    close(master_);
  }
  void type(const std::string& keys) {
    EXPECT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
  }
  // True once `text` has appeared on the terminal since the last match.
  bool expect(const std::string& text, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t at = screen_.find(text);
      if (at != std::string::npos) return screen_.erase(0, at + text.size()), true;
      struct pollfd ready = {master_, POLLIN, 0};
      if (std::chrono::steady_clock::now() > deadline || poll(&ready, 1, 50) < 0) return false;
      char buffer[4096];
      const ssize_t n = (ready.revents & POLLIN) ? read(master_, buffer, sizeof buffer) : 0;
      if (n > 0) screen_.append(buffer, size_t(n));
    }
  }
  void signal(int number) { kill(pid_, number); }
  int wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return exitStatus(status);
  }

 private:
  TempDir home_;
  Invocation call_;
  int master_ = -1;
  pid_t pid_ = -1;
  std::string screen_;
};

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The command runs on the test's private element: its start-up hook takes
// the names from the environment. Every test leaves no pipe file and a
// table of free slots behind.
class ZubdmCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZUBDM_TEST_USER_TABLE", sim_.tableName().c_str(), 1);
    setenv("ZUBDM_TEST_PIPE_DIR", sim_.pipe("").c_str(), 1);
    setenv("ZUBDM_TEST_CLI", ZUBDM_SIM_DIR "/cli", 1);
  }
  void TearDown() override {
    for (const char* name : {"ZUBDM_TEST_USER_TABLE", "ZUBDM_TEST_PIPE_DIR", "ZUBDM_TEST_CLI"})
      unsetenv(name);
    EXPECT_TRUE(sim_.pipeFiles().empty());
    EXPECT_EQ(sim_.readTable(), std::vector<unsigned char>(SimulatorEnvironment::TABLE_SIZE, 0));
  }
  // Waits until the simulator has received `line`.
  bool received(const std::string& line) {
    for (int i = 0; i < 500; ++i) {
      for (const std::string& got : sim_.transcript()) if (got == line) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(dir_.file(name), std::ios::binary) << text;
    return dir_.file(name);
  }
  SimulatorEnvironment sim_;
  TempDir dir_;
};

const char kSnippet[] = "# shut B down\nconfigure terminal\ninterface B\n  shutdown\nend\n";

}  // namespace

TEST_F(ZubdmCommand, BadUsageIsExplainedBeforeAnythingIsSent) {
  struct Row {
    Strings args;     // after --simulator
    const char* err;  // on standard error; the status is 2
  } rows[] = {
      {{"--bogus", "x"}, "unknown option --bogus"},
      {{}, "no command given"},
      {{"-m", "config-xyz", "x"}, "known modes: config config-controller config-if root"},
      {{"-m", "config-if", "x"}, "mode config-if needs -a with the interface's name"},
      {{"-m", "config-if", "-a", "A B", "x"}, "needs one interface name without blanks"},
      {{"-m", "config-if", "-a", "", "x"}, "needs one interface name"},
      {{"-m", "config", "-a", "X", "x"}, "mode config takes no argument (-a)"},
      {{"-c", "end", "-m", "config", "x"}, "-c and -m exclude each other"},
      {{"-p", "no", "-m", "config-if", "-a", "A", "x"}, "  no interface A\nzubdm: not sent: add --yes"},
      {{"--reply-timeout", "99999999999999999999", "x"},
       "--reply-timeout: '99999999999999999999' is not a whole number of milliseconds from 1 to "
       "86400000 (24 h)"},
      {{"--connect-timeout", "0", "x"}, "--connect-timeout: '0' is not"},
      {{"show\001version"}, "command holds the control byte 0x01"},
      {{"--raw", "--json", "x"}, "--raw and --json exclude each other"},
      {{"--batch", "/"}, "--batch /: Is a directory"},
      {{"--batch", "/dev/null"}, "--batch /dev/null holds no command"},
      {{"--mask", "(", "x"}, "--mask '(' is not a valid regular expression"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.err);
    Strings args = {"--simulator"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const ToolRun run = zubdm(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, row.err)) << run.err;
    EXPECT_TRUE(sim_.transcript().empty());
  }
}

TEST_F(ZubdmCommand, DryRunPrintsEveryLineThatWouldBeWritten) {
  struct Row {
    Strings args;
    const char* out;
  } rows[] = {
      {{"-m", "config-if", "-a", "B", "shutdown", "description x"},
       "end\nconfigure terminal\ninterface B\n1 shutdown\nend\nconfigure terminal\ninterface B\n"
       "2 description x\n"},
      {{"-p", "no", "-m", "config-if", "-a", "A", "shutdown"},
       "end\nconfigure terminal\nno interface A\n1 shutdown\n"},
      {{"--batch", file("snippet", std::string(kSnippet) + "show version\n")},
       "end\nconfigure terminal\ninterface B\n1 shutdown\nend\n2 show version\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.out);
    Strings args = row.args;
    args.push_back("--dry-run");
    const ToolRun run = zubdm(args, "/nonexistent");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, row.out);
    EXPECT_TRUE(sim_.transcript().empty());
  }
}

TEST_F(ZubdmCommand, LinesRunInTheModeTheSnippetSetsAndStopAtTheFirstFailure) {
  struct Row {
    const char* name;
    Strings args;       // after --simulator
    std::string input;  // standard input
    int status;
    Strings sent;  // after the login
  } rows[] = {
      {"snippet", {"--batch", file("snippet", kSnippet)}, "", 0,
       {"end", "configure terminal", "interface B", "1 shutdown"}},
      {"snippet on standard input", {"--batch", "-"}, kSnippet, 0,
       {"end", "configure terminal", "interface B", "1 shutdown"}},
      {"commands stop", {"-m", "config-if", "-a", "B", "descripton typo", "shutdown"}, "", 1,
       {"end", "configure terminal", "interface B", "1 descripton typo"}},
      {"keep going",
       {"--keep-going", "-m", "config-if", "-a", "B", "descripton typo", "shutdown"}, "", 1,
       {"end", "configure terminal", "interface B", "1 descripton typo", "end",
        "configure terminal", "interface B", "2 shutdown"}},
      {"bad mode command", {"--batch", file("bad", "configure terminal\ninterface A B\nshutdown\n")},
       "", 1, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim_.clearTranscript();
    Strings args = {"--simulator"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const ToolRun run = zubdm(args, "", file("input", row.input));
    EXPECT_EQ(run.status, row.status) << run.err;
    Strings sent = {"LOGIN root"};
    sent.insert(sent.end(), row.sent.begin(), row.sent.end());
    EXPECT_EQ(sim_.transcript(), sent);
  }
}

TEST_F(ZubdmCommand, OutputFormsCarryTheDeviceBytesAndWhyACommandFailed) {
  sim_.setScenario(ScenarioBuilder()
                       .reply("show nul", std::string("a\0b\001c\r\n", 7), false)
                       .reply("show slow", "late\r\n", false, R"("delay_ms": 2000)")
                       .reply("show crash", "", false, R"("fault": "exit")")
                       .json());
  struct Row {
    Strings args;  // after --simulator
    int status;
    std::string out;  // exact standard output, or a part of each JSON line
  } rows[] = {
      {{"--raw", "show nul"}, 0, std::string("a\0b\001c\r\n", 7)},
      {{"show nul"}, 0, "[root] show nul\na\\0b\\x01c\nstate: Success\n"},
      {{"--json", "show nul"}, 0, R"("output":["a\u0000b\u0001c"],"prompt":"HVB#")"},
      {{"--json", "frobnicate"}, 1,
       R"("error":{"kind":"device_error","text":"Error: Invalid input detected: frobnicate"})"},
      {{"--json", "--reply-timeout", "100", "show slow"}, 1,
       R"x({"kind":"timed_out","text":"no complete reply within 100 ms (--reply-timeout)"})x"},
      {{"--json", "show crash"}, 1, R"({"kind":"cli_gone","text":"the CLI ended before)"},
      {{"--json", "show interfaces", "--find", "C", "port", "admin", "--values", "OBJ", "id", "\""},
       0, R"("found":"up","mode":"root")"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.back());
    Strings args = {"--simulator"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const ToolRun run = zubdm(args);
    EXPECT_EQ(run.status, row.status) << run.err;
    if (row.args[0] == "--json") {
      EXPECT_TRUE(contains(run.out, row.out)) << run.out;
      EXPECT_TRUE(jsonLines(run.out).at(0).contains("duration_ms"));
    } else {
      EXPECT_EQ(run.out, row.out);
    }
  }
  EXPECT_EQ(zubdm({"--simulator", "show version"}, "", "", "/dev/full").status, 2);
}

TEST_F(ZubdmCommand, SessionLogHoldsEveryLineWithSecretsMasked) {
  const std::string log = dir_.file("session.log");
  const ToolRun run = zubdm({"--simulator", "--log", log, "-v", "--mask", "secret [a-z]+", "-m",
                             "config", "username admin secret hunter", "hostname edge"});
  EXPECT_EQ(run.status, 1);
  for (const std::string& text : {slurp(log), run.err}) {
    for (const char* line : {" > ****\\r\\n\n", " > 1 username admin ****\\n\\r\n",
                             " < Error: Invalid input detected: username admin ****\\r\\n\n",
                             " < HVB(config)#\n"}) {
      EXPECT_TRUE(contains(text, line)) << line << "\n" << text;
    }
    EXPECT_FALSE(contains(text, "hunter"));
  }
}

TEST_F(ZubdmCommand, ConnectionFailuresSayWhy) {
  struct Row {
    const char* scenario;  // JSON
    bool planted;          // a file of the test sits at the write pipe's name
    bool tableFull;
    std::string err;
  } rows[] = {
      {R"({"fault": "never_prompt"})", false, false,
       "no answer from the CLI: waited 300 ms (--connect-timeout) for the CLI's \"Login:\""},
      {R"({"fault": "exit_at_login"})", false, false,
       " while the login waited for the password prompt \"Password:\""},
      {"", true, false, "clPipeW0 is already there and is not this user's private FIFO: it is a "
                        "regular file owned by "},
      {"", true, false, "(uid " + std::to_string(geteuid()) + "), mode 0644; removing it (rm " +
                        sim_.pipe("clPipeW0") + ") frees the slot"},
      {"", false, true, "no free CLI user slot in " },
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.err);
    sim_.setScenario(row.scenario);
    if (row.planted) std::ofstream(sim_.pipe("clPipeW0")) << "x";
    chmod(sim_.pipe("clPipeW0").c_str(), 0644);
    std::vector<unsigned char> table(SimulatorEnvironment::TABLE_SIZE, 0);
    for (int slot = 0; row.tableFull && slot < 15; ++slot) table[slot * 116 + 4] = 1;
    sim_.writeTable(table);
    const ToolRun run = zubdm({"--simulator", "--connect-timeout", "300", "show version"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, row.err)) << run.err;
    unlink(sim_.pipe("clPipeW0").c_str());
    sim_.writeTable(std::vector<unsigned char>(SimulatorEnvironment::TABLE_SIZE, 0));
  }
}

TEST_F(ZubdmCommand, SlotsListsEntriesAndFreesOnlyStaleOnesOfItsType) {
  std::vector<unsigned char> table(SimulatorEnvironment::TABLE_SIZE, 0);
  const int32_t alive = getpid(), gone = 0x7ffffff0;
  table[3 * 116 + 4] = 1, table[3 * 116 + 5] = 2;
  std::memcpy(&table[3 * 116 + 72], &alive, 4);
  table[5 * 116 + 4] = 1, table[5 * 116 + 5] = 7;
  std::memcpy(&table[5 * 116 + 72], &gone, 4);
  sim_.writeTable(table);
  ASSERT_EQ(mkfifo(sim_.pipe("clPipeW3").c_str(), 0600), 0);
  std::ofstream(sim_.pipe("clPipeR5")) << "";
  const ToolRun run = zubdm({"slots"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::vector<Strings> rows;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    rows.emplace_back(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
  }
  EXPECT_EQ(rows, (std::vector<Strings>{
                      {"slot", "type", "process", "state", "held", "pipes"},
                      {"3", "2", "(zubdm)", std::to_string(alive), "alive", "no",
                       sim_.pipe("clPipeW3")},
                      {"5", "7", "2147483632", "gone", "no", sim_.pipe("clPipeR5")}}));
  // No host holds slot 3: it is stale and goes with its pipe; slot 5 is
  // another program's and stays, as does the file at its pipe's name.
  const ToolRun freed = zubdm({"slots", "--free-stale"});
  EXPECT_EQ(freed.status, 0) << freed.err;
  EXPECT_EQ(freed.out, "freed slot 3\nremoved " + sim_.pipe("clPipeW3") +
                           "\n1 stale slot freed\n");
  table[3 * 116 + 4] = 0, table[3 * 116 + 5] = 0;
  std::memset(&table[3 * 116], 0, 116);
  EXPECT_EQ(sim_.readTable(), table);
  unlink(sim_.pipe("clPipeR5").c_str());
  sim_.writeTable(std::vector<unsigned char>(SimulatorEnvironment::TABLE_SIZE, 0));
}

TEST_F(ZubdmCommand, RecordingReplaysTheSessionByteForByte) {
  const std::string scenario = file("canned.json", ScenarioBuilder()
                                                       .reply("show clock", std::string("\0\xff\r\n", 4), false)
                                                       .json());
  const std::string batch = file("batch", std::string("show interfaces\n") + kSnippet +
                                              "show interfaces\nshow clock\nfrobnicate\n");
  const std::string recording = dir_.file("recording.json");
  const Strings common = {"--simulator", "--keep-going", "--batch", batch};
  auto run = [&](const std::string& scenarioFile, const Strings& extra) {
    Strings args = common;
    args.insert(args.end(), {"--scenario", scenarioFile});
    args.insert(args.end(), extra.begin(), extra.end());
    return zubdm(args);
  };
  const ToolRun recorded = run(scenario, {"--raw", "--record", recording});
  EXPECT_EQ(recorded.status, 1) << recorded.err;
  EXPECT_TRUE(contains(recorded.out, "admin=\"down\""));
  const ToolRun replayed = run(recording, {"--raw"});
  EXPECT_EQ(replayed.status, 1) << replayed.err;
  EXPECT_EQ(replayed.out, recorded.out);
  EXPECT_TRUE(contains(replayed.out, std::string("\0\xff\r\n", 4)));
  // The replay's simulator answers from the recording, not from its own
  // state: what it was sent is what the recording holds.
  const nlohmann::json exchanges = nlohmann::json::parse(slurp(recording))["exchanges"];
  EXPECT_EQ(exchanges.size(), 12u);
  EXPECT_EQ(exchanges[5]["then_mode"], "config-if");
}

TEST_F(ZubdmCommand, SignalsEndTheRunAndFreeWhatItHeld) {
  struct Row {
    const char* command;
    int signal;    // sent once the command is sent (0: none)
    bool pipeOut;  // standard output is a pipe with no reader: SIGPIPE
    int status;
  } rows[] = {{"show bulk 1024M", SIGINT, false, 130},
              {"show bulk 1024M", SIGTERM, false, 143},
              {"show bulk 1024M", SIGHUP, false, 129},
              {"show version", 0, true, 141}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    sim_.clearTranscript();
    Terminal tool({"--simulator", row.command}, row.pipeOut);
    if (row.signal != 0) {
      ASSERT_TRUE(received(std::string("1 ") + row.command));
      tool.signal(row.signal);
    }
    EXPECT_EQ(tool.wait(), row.status);
    EXPECT_TRUE(sim_.pipeFiles().empty());
  }
}

TEST_F(ZubdmCommand, ShellCtrlCAbandonsTheLineOrCancelsTheCommandAndGoesOn) {
  struct Step {
    const char* keys;
    const char* waitFor;  // the simulator's input line to wait for first
    const char* shows;    // on the terminal afterwards
  } steps[] = {
      {"", nullptr, "zubdm(root)> "},
      {"show vers", nullptr, "show vers"},
      {"\003", nullptr, "zubdm(root)> "},
      {"show version\r", nullptr, "Software version 1.0.0"},
      {"show bulk 1024M\r", nullptr, nullptr},
      {"\003", "2 show bulk 1024M", "zubdm: cancelled"},
      {"show interfaces\r", nullptr, "state: Success"},
      {":quit\r", nullptr, nullptr},
  };
  Terminal shell({"--simulator", "shell"});
  for (const Step& step : steps) {
    SCOPED_TRACE(step.keys);
    if (step.waitFor) {
      ASSERT_TRUE(received(step.waitFor));
    }
    shell.type(step.keys);
    if (step.shows) {
      EXPECT_TRUE(shell.expect(step.shows));
    }
  }
  EXPECT_EQ(shell.wait(), 0);
  EXPECT_EQ(sim_.transcript().back(), "3 show interfaces");
}

TEST_F(ZubdmCommand, MissingCliIsExplained) {
  setenv("ZUBDM_TEST_CLI", "cli", 1);
  const ToolRun run = zubdm({"show version"}, "/nonexistent");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(contains(run.err, "'cli' was not found on PATH")) << run.err;
}

TEST_F(ZubdmCommand, ShellFollowsModeCommandsAndAnswersHelpers) {
  const std::string input = file("input", "configure terminal\ninterface C\nshutdown\nexit\n"
                                          "hostname edge\nend\nshow interfaces\n"
                                          ":find C port admin\n:values OBJ id \"\n:quit\n"
                                          "show version\n");
  const ToolRun run = zubdm({"--simulator", "shell"}, "", input);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(sim_.transcript(),
            (Strings{"LOGIN root", "end", "configure terminal", "interface C", "1 shutdown", "end",
                     "configure terminal", "2 hostname edge", "end", "3 show interfaces"}));
  EXPECT_TRUE(contains(run.out, "\ndown\nA\nB\nC\n")) << run.out;
}
