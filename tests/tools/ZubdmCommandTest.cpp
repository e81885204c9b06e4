// The zubdm command as an operator and a script use it, run as a process on
// the test's private element (its start-up hook takes the names from the
// environment); signals and the shell through a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
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

namespace {

using Strings = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

struct ToolRun {
  int status = -1;  // the exit status, 128+N after signal N
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The command as a child process: standard input from the file `input`
// (empty: closed), standard output to `outPath` (empty: captured, "-":
// closed) or, with `Terminal`,
// everything on a new pseudo-terminal that is its controlling terminal, as in
// an operator's shell (Ctrl-C typed there is a SIGINT).
class Tool {
 public:
  enum class Streams { Files, BrokenPipe, Terminal };  // BrokenPipe: output with no reader

  explicit Tool(Strings args, const std::string& input = "/dev/null",
                Streams streams = Streams::Files, const std::string& outPath = "")
      : out_(outPath.empty() || outPath == "-" ? dir_.file("out") : outPath),
        err_(dir_.file("err")) {
    args.insert(args.begin(), ZUBDM_TOOL_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    int broken[2] = {-1, -1};
    if (streams == Streams::BrokenPipe && pipe2(broken, O_CLOEXEC) != 0) ADD_FAILURE();
    pid_ = streams == Streams::Terminal ? forkpty(&master_, nullptr, nullptr, nullptr) : fork();
    if (pid_ != 0) {
      if (broken[0] >= 0) close(broken[0]), close(broken[1]);
      return;
    }
    if (streams != Streams::Terminal) {
      dup2(open(input.c_str(), O_RDONLY | O_CLOEXEC), 0);
      dup2(open(out_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 1);
      dup2(open(err_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 2);
      if (input.empty()) close(0);
      if (outPath == "-") close(1);
    }
    if (broken[1] >= 0) dup2(broken[1], 1);
    alarm(60);  // a tool that hangs fails its test instead of stalling the run
    execv(argv[0], argv.data());
    _exit(127);
  }
  ~Tool() {
    if (pid_ > 0) kill(pid_, SIGKILL), finish();
    if (master_ >= 0) close(master_);
  }
  // Never to a whole process group.
  void signal(int number) { if (pid_ > 0) kill(pid_, number); }
  void type(const std::string& keys) {
    EXPECT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
  }
  // True once `text` has appeared on the terminal since the last match.
  bool expect(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (size_t at; (at = screen_.find(text)) == std::string::npos;) {
      struct pollfd ready = {master_, POLLIN, 0};
      if (std::chrono::steady_clock::now() > deadline || poll(&ready, 1, 50) < 0) return false;
      char buffer[4096];
      const ssize_t n = (ready.revents & POLLIN) ? read(master_, buffer, sizeof buffer) : 0;
      if (n > 0) screen_.append(buffer, size_t(n));
    }
    screen_.erase(0, screen_.find(text) + text.size());
    return true;
  }
  ToolRun finish() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            out_ == dir_.file("out") ? slurp(out_) : "", slurp(err_)};
  }

 private:
  TempDir dir_;
  const std::string out_, err_;
  int master_ = -1;
  pid_t pid_ = -1;
  std::string screen_;
};

ToolRun runTool(const Strings& args, const std::string& input = "/dev/null",
              const std::string& outPath = "") {
  return Tool(args, input, Tool::Streams::Files, outPath).finish();
}

// Each test: a private element and HOME, the simulator first on PATH; no
// pipe file and a table of free slots left behind.
class ZubdmCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HOME", dir_.path().c_str(), 1);
    setenv("PATH", (ZUBDM_SIM_DIR ":" + path_).c_str(), 1);
    setenv("ZUBDM_TEST_USER_TABLE", sim_.tableName().c_str(), 1);
    setenv("ZUBDM_TEST_PIPE_DIR", sim_.pipe("").c_str(), 1);
    setenv("ZUBDM_TEST_CLI", ZUBDM_SIM_DIR "/cli", 1);
  }
  void TearDown() override {
    setenv("HOME", home_.c_str(), 1);
    setenv("PATH", path_.c_str(), 1);
    EXPECT_TRUE(sim_.pipeFiles().empty());
    EXPECT_EQ(sim_.readTable(), freeTable());
  }
  static Bytes freeTable() { return Bytes(SimulatorEnvironment::TABLE_SIZE, 0); }
  // Waits until the simulator has received `line`.
  bool received(const std::string& line) {
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      const Strings got = sim_.transcript();
      if (std::find(got.begin(), got.end(), line) != got.end()) return true;
    }
    return false;
  }
  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(dir_.file(name), std::ios::binary) << text;
    return dir_.file(name);
  }
  const std::string home_ = std::getenv("HOME") ? std::getenv("HOME") : "";
  const std::string path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
  SimulatorEnvironment sim_;
  TempDir dir_;
};

const char kSnippet[] = "# shut B down\nconfigure terminal\ninterface B\n  shutdown\nend\n";

}  // namespace

TEST_F(ZubdmCommand, LinesRunInTheirModeUpToAFailureAndPrintInTheFormAskedFor) {
  sim_.setScenario(ScenarioBuilder()
                       .reply("show nul", std::string("a\0b\001c\r\n", 7), false)
                       .reply("show esc", "a\\b\xc2\x85\x9b\xe2\x82\xac\r\n", false)
                       .reply("show pct", "% Unknown command\r\n", false)
                       .reply("show slow", "late\r\n", false, R"("delay_ms": 2000)")
                       .reply("show crash", "", false, R"("fault": "exit")")
                       .reply("interface STUCK", "", false,
                              R"("then_mode": "config-if", "fault": "stop_reading")")
                       .json());
  const std::string snippet = file("snippet", std::string(kSnippet) + "show version\n");
  const std::string recording =
      file("recording", R"({"exchanges": [{"command": "end", "raw": true, "reply": "HVB#"}]})");
  struct Row {
    Strings args;
    std::string input;  // standard input
    int status;
    Strings sent;     // what the CLI received after the login
    std::string out = "";  // a part of the output (only the error with 2), or all with --raw
  } rows[] = {
      {{"--bogus", "x"}, "", 2, {}, "unknown option --bogus"},
      {{"--json=yes", "x"}, "", 2, {}, "--json takes no value"},
      {{"--version"}, "", 0, {}, "zubdm 3.0.0 (libzubdm.so.3)\n"},
      {{"--strict", "x"}, "", 2, {}, "--strict goes with --scenario"},
      {{"--error-prefix", "", "x"}, "", 2, {}, "--error-prefix '' is refused"},
      {{}, "", 2, {}, "no command given"},
      {{"-m", "cfg", "x"}, "", 2, {}, "known modes: config config-controller config-if root"},
      {{"-m", "config-if", "x"}, "", 2, {}, "mode config-if needs -a with the interface's name"},
      {{"-m", "config-if", "-a", "A B", "x"}, "", 2, {}, "needs one interface name without blanks"},
      {{"-m", "config-if", "-a", "", "x"}, "", 2, {}, "needs one interface name"},
      {{"-m", "config", "-a", "X", "x"}, "", 2, {}, "mode config takes no argument (-a)"},
      {{"-c", "end", "-m", "config", "x"}, "", 2, {}, "-c and -m exclude each other"},
      {{"-p", "no", "-m", "config-if", "-a", "A", "x"}, "", 2, {},
       "  no interface A\nzubdm: not sent: add --yes"},
      {{"--reply-timeout", "99999999999999999999", "x"}, "", 2, {},
       "--reply-timeout: '99999999999999999999' is not a whole number of milliseconds from 1 to "
       "86400000 (24 h)"},
      {{"--connect-timeout", "0", "x"}, "", 2, {}, "--connect-timeout: '0' is not"},
      {{"show\001version"}, "", 2, {}, "command holds the control byte 0x01"},
      {{"--raw", "--json", "x"}, "", 2, {}, "--raw and --json exclude each other"},
      {{"--raw", "--find", "A", "port", "admin", "x"}, "", 2, {}, "--find and --values need"},
      {{"--mask", "TOP[0-9]", "-m", "config-if", "-a", "TOP1 x", "x"}, "", 2, {}, "not '**** x'"},
      {{"--record", "/nonexistent/x.json", "x"}, "", 2, {},
       "--record /nonexistent/x.json: cannot be written"},
      {{"--record", "/tmp", "x"}, "", 2, {}, "--record /tmp: cannot be written: Is a directory"},
      // The lookup reads the last command, also when mode lines follow it.
      {{"show interfaces", "end", "--find", "C", "port", "admin"}, "", 0,
       {"end", "1 show interfaces"}, "found: up"},
      {{"--batch", "/"}, "", 2, {}, "--batch /: Is a directory"},
      {{"--batch", "/dev/null"}, "", 2, {}, "--batch /dev/null holds no command"},
      {{"--mask", "(", "x"}, "", 2, {}, "--mask '(' is not a valid regular expression"},
      {{"--dry-run", "-m", "config-if", "-a", "B", "shutdown", "description x"}, "", 0, {},
       "end\nconfigure terminal\ninterface B\n1 shutdown\nend\nconfigure terminal\ninterface B\n"
       "2 description x\n"},
      {{"--dry-run", "-p", "no", "-m", "config-if", "-a", "A", "shutdown"}, "", 0, {},
       "end\nconfigure terminal\nno interface A\n1 shutdown\n"},
      {{"--dry-run", "--batch", snippet}, "", 0, {},
       "end\nconfigure terminal\ninterface B\n1 shutdown\nend\n2 show version\n"},
      {{"--batch", snippet}, "", 0,
       {"end", "configure terminal", "interface B", "1 shutdown", "end", "2 show version"},
       "[config-if B] shutdown\nstate: Success"},
      {{"--batch", "-"}, kSnippet, 0, {"end", "configure terminal", "interface B", "1 shutdown"}},
      {{"-m", "config-if", "-a", "B", "descripton typo", "shutdown"}, "", 1,
       {"end", "configure terminal", "interface B", "1 descripton typo"}, "state: Failed"},
      {{"--keep-going", "-m", "config-if", "-a", "B", "descripton typo", "shutdown"}, "", 1,
       {"end", "configure terminal", "interface B", "1 descripton typo", "end",
        "configure terminal", "interface B", "2 shutdown"}},
      {{"--batch", file("bad", "configure terminal\ninterface A B\nshutdown\n")}, "", 1, {}},
      {{"--raw", "show nul"}, "", 0, {"end", "1 show nul"},
       std::string("a\0b\001c\r\n", 7)},
      {{"show nul"}, "", 0, {"end", "1 show nul"},
       "[root] show nul\na\\0b\\x01c\nstate: Success\n"},
      {{"--json", "show nul"}, "", 0, {"end", "1 show nul"},
       R"("output":["a\u0000b\u0001c"],"prompt":"HVB#")"},
      {{"--json", "frobnicate"}, "", 1, {"end", "1 frobnicate"},
       R"("error":{"kind":"device_error","text":"Error: Invalid input detected: frobnicate"})"},
      {{"--json", "--reply-timeout", "100", "show slow"}, "", 1, {"end", "1 show slow"},
       R"x({"kind":"timed_out","text":"no complete reply within 100 ms (--reply-timeout)"})x"},
      {{"--keep-going", "--reply-timeout", "100", "show slow", "show version"}, "", 1,
       {"end", "1 show slow"},
       "not sent: the reply to an earlier command still had not ended after 100 ms"},
      {{"--json", "show crash"}, "", 1, {"end", "1 show crash"},
       R"({"kind":"cli_gone","text":"the CLI ended without a complete reply)"},
      // A line longer than the pipe holds, to a CLI that stopped reading.
      {{"--json", "--reply-timeout", "300", "-m", "config-if", "-a", "STUCK",
        std::string(100000, 'y')},
       "", 1, {"end", "configure terminal", "interface STUCK"},
       "could not be sent within 300 ms: the CLI did not read it"},
      {{"--keep-going", "--reply-timeout", "300", "-m", "config-if", "-a", "STUCK",
        std::string(100000, 'y'), "show version"},
       "", 1, {"end", "configure terminal", "interface STUCK"},
       "[config-if STUCK] show version\nerror: not sent: an earlier failure left the connection "
       "unusable"},
      {{"--json", "show interfaces", "--find", "C", "port", "admin", "--values", "OBJ", "id", "\""},
       "", 0, {"end", "1 show interfaces"}, R"("found":"up","values":["A","B","C"]})"},
      {{"--json", "--find=C", "port", "admin", "--reply-timeout=5000", "-mconfig", "show interfaces"},
       "", 0, {"end", "configure terminal", "1 show interfaces"}, R"("found":"up")"},
      {{"--batch", file("bom", "\xef\xbb\xbfshow version\r\n")}, "", 0, {"end", "1 show version"}},
      // Every byte can be told from the text shown: a backslash, C1 bytes and
      // a C1 character in UTF-8 are escaped too; UTF-8 text is kept.
      {{"show esc"}, "", 0, {"end", "1 show esc"}, "\na\\\\b\\u0085\\x9b\xe2\x82\xac\n"},
      {{"--json", "show esc"}, "", 0, {"end", "1 show esc"},
       R"("output":["a\\b\u00c2\u0085\u009b\u00e2\u0082\u00ac"],"output_encoding":"latin1")"},
      // One record per command and per line refused or held back, in order.
      {{"--json", "--keep-going", "--batch",
        file("held", "configure terminal\ninterface A B\nshutdown\nend\nshow version\n")},
       "", 1, {"end", "1 show version"},
       R"("reason":"refused","error":{"kind":"refused",)"
       R"("text":"mode config-if needs one interface name without blanks or control bytes, not 'A B'"}})"
       "\n"
       R"({"line":3,"command":"shutdown","mode":"config","sent":false,"state":"Failed",)"
       R"("reason":"not_sent","error":{"kind":"not_sent","text":"not sent: it follows the refused )"
       R"(mode line 'interface A B'"}})"
       "\n"
       R"({"line":5,"command":"show version","mode":"root","sent":true,"state":"Success")"},
      // -c names a mode of its own: mode lines after it would be taken wrongly.
      {{"--dry-run", "-c", "configure terminal", "interface Q", "shutdown"}, "", 1, {},
       "interface Q: a mode line does not follow -c"},
      {{"--scenario", recording, "--strict", "show interfaces"}, "", 1, {"end", "1 show interfaces"},
       "error: Error: not in the recording: show interfaces"},
      {{"--error-prefix", "% ", "show pct"}, "", 1, {"end", "1 show pct"},
       "error: % Unknown command"},
      // What was meant for a mode that could not be entered is not sent.
      {{"shell"}, "configure terminal\ninterface A B\nshutdown\nshow \001x\nend\nshow version\n", 1,
       {"end", "1 show version"}, "shutdown: not sent: it follows the refused mode line"},
      {{"shell"}, "configure terminal\ninterface A\007\nshutdown\nexit\nhostname h\n", 1, {},
       "exit: not followed: it follows the refused mode line"},
      {{"--keep-going", "--batch",
        file("gap", "configure terminal\ninterface B \nshutdown\ninterface A B\ndescription x\n"
                    "end\nshow version\n")},
       "", 1, {"end", "configure terminal", "interface B", "1 shutdown", "end", "2 show version"},
       "description x: not sent: it follows the refused mode line 'interface A B'"},
      {{"shell"},
       "configure terminal\ninterface C\nshutdown\nexit\nhostname edge\nend\nshow interfaces\n"
       ":find C port admin\n:values OBJ id \"\n:quit\nshow version\n",
       0,
       {"end", "configure terminal", "interface C", "1 shutdown", "end", "configure terminal",
        "2 hostname edge", "end", "3 show interfaces"},
       "\ndown\nA\nB\nC\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    sim_.clearTranscript();
    Strings args = {"--simulator"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const ToolRun run = runTool(args, file("input", row.input));
    EXPECT_EQ(run.status, row.status) << run.err;
    const bool connects = row.status != 2 && row.args[0] != "--dry-run" && row.args[0] != "--version";
    Strings sent = connects ? Strings{"LOGIN root"} : Strings();
    sent.insert(sent.end(), row.sent.begin(), row.sent.end());
    EXPECT_EQ(sim_.transcript(), sent);
    const std::string form = row.args.empty() || row.status == 2 ? "" : row.args[0];
    const std::string shown =
        row.status == 2 ? run.err : form == "--raw" ? run.out : run.out + run.err;
    EXPECT_TRUE(form == "--raw" ? shown == row.out : contains(shown, row.out)) << shown;
    std::istringstream records(form == "--json" ? run.out : "");
    for (std::string record; std::getline(records, record);) {
      const nlohmann::json json = nlohmann::json::parse(record);
      EXPECT_TRUE(json.contains("line") && json.contains("sent")) << record;
    }
  }
  EXPECT_EQ(runTool({"--simulator", "show version"}, "/dev/null", "/dev/full").status, 2);
  // Closed standard streams: the shell ends at once, as at the end of its
  // input; with no output, nothing is sent.
  const ToolRun noInput = runTool({"--simulator", "shell"}, "");
  EXPECT_EQ(noInput.status, 0) << noInput.err;
  const ToolRun noOutput = runTool({"--simulator", "show version"}, "/dev/null", "-");
  EXPECT_EQ(noOutput.status, 2);
  EXPECT_TRUE(contains(noOutput.err, "standard output is closed")) << noOutput.err;
  const ToolRun fullLog = runTool({"--simulator", "--log", "/dev/full", "show version"});
  EXPECT_EQ(fullLog.status, 2);
  EXPECT_TRUE(contains(fullLog.err, "--log /dev/full: cannot be written")) << fullLog.err;
}

TEST_F(ZubdmCommand, SessionLogHoldsTheWireBytesWithSecretsMasked) {
  const std::string log = dir_.file("session.log");
  const ToolRun run = runTool({"--simulator", "--log", log, "-v", "--mask", "secret [a-z]+", "-m",
                         "config", "username admin secret hunter", "hostname edge"});
  EXPECT_EQ(run.status, 1);
  for (const std::string& text : {slurp(log), run.err}) {
    for (const char* line : {" > root\\r\\n\n", " > ****\\r\\n\n", " > end\\n\\r\n",
                             " > 1 username admin ****\\n\\r\n",
                             " < Error: Invalid input detected: username admin ****\\r\\n\n",
                             " < HVB(config)#\n"}) {
      EXPECT_TRUE(contains(text, line)) << line << "\n" << text;
    }
    EXPECT_FALSE(contains(text, "hunter"));
  }
}

TEST_F(ZubdmCommand, ConnectionFailuresSayWhy) {
  enum Setup {
    kScenario, kCliMissing, kCliNotExecutable, kPlantedPipe, kTableFull, kLoginRefused, kCliNotProgram
  };
  // A CLI that asks for the login again after the password.
  const std::string refuses = file("refuses", "#!/bin/sh\nexec 3<" + sim_.pipe("clPipeW0") + " 4>" +
                                                  sim_.pipe("clPipeR0") +
                                                  "\nprintf 'Login:' >&4; read -r a <&3\n"
                                                  "printf 'Password:' >&4; read -r b <&3\n"
                                                  "printf 'Login:' >&4; read -r c <&3\n");
  chmod(refuses.c_str(), 0700);
  struct Row {
    Setup setup;
    const char* scenario;  // JSON
    std::string err;
  } rows[] = {
      {kScenario, R"({"fault": "never_prompt"})",
       "no answer from the CLI: waited 300 ms (--connect-timeout) for the CLI's \"Login:\""},
      {kScenario, R"({"fault": "exit_at_login"})",
       " while the login waited for the password prompt \"Password:\""},
      {kPlantedPipe, "",
       "clPipeW0 is already there and is not this user's private FIFO; removing it (rm " +
           sim_.pipe("clPipeW0") + ") frees the slot"},
      {kPlantedPipe, "", "is a file owned by uid " + std::to_string(geteuid()) + " with mode 0644"},
      {kTableFull, "", ": no slot is free"},
      {kLoginRefused, "", "the CLI refused the login: it asked for \"Login:\" again"},
      {kCliNotProgram, "", "the CLI program could not be started\n  cause: " + dir_.path() +
                               ": Permission denied"},
      {kCliNotExecutable, "",
       "found " + dir_.path() + "/cli on PATH but it cannot be executed: Permission denied"},
      {kCliMissing, "", "'cli' was not found on PATH"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.err);
    sim_.setScenario(row.scenario);
    setenv("ZUBDM_TEST_CLI",
           row.setup == kCliMissing || row.setup == kCliNotExecutable ? "cli"
           : row.setup == kLoginRefused ? refuses.c_str()
           : row.setup == kCliNotProgram ? dir_.path().c_str()
                                        : ZUBDM_SIM_DIR "/cli",
           1);
    // The last two rows.
    if (row.setup == kCliMissing) setenv("PATH", "/nonexistent", 1);
    if (row.setup == kCliNotExecutable) setenv("PATH", ("/nonexistent:" + dir_.path()).c_str(), 1);
    if (row.setup == kCliNotExecutable) chmod(file("cli", "#!/bin/sh\n").c_str(), 0644);
    if (row.setup == kPlantedPipe) std::ofstream(sim_.pipe("clPipeW0")) << "x";
    chmod(sim_.pipe("clPipeW0").c_str(), 0644);
    Bytes table = freeTable();
    for (int slot = 0; row.setup == kTableFull && slot < 15; ++slot) table[slot * 116 + 4] = 1;
    sim_.writeTable(table);
    const std::string kept = file("kept.json", "an earlier recording");
    const ToolRun run = runTool({"--connect-timeout", "300", "--record", kept, "show version"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, row.err)) << run.err;
    EXPECT_EQ(slurp(kept), "an earlier recording") << "nothing was recorded";
    unlink(sim_.pipe("clPipeW0").c_str());
    sim_.writeTable(freeTable());
  }
}

TEST_F(ZubdmCommand, SlotsListsEntriesAndFreesOnlyStaleOnesOfItsType) {
  // A host killed while its CLI (the simulator, "cli -n 0") still runs: it
  // has stopped reading, so the host's end does not end it.
  sim_.setScenario(
      ScenarioBuilder().reply("show stuck", "", false, R"("fault": "stop_reading")").json());
  Tool host({"--simulator", "show stuck", "show version"});
  ASSERT_TRUE(received("1 show stuck"));
  host.signal(SIGKILL);
  host.finish();
  Bytes table = sim_.readTable();
  int32_t cli = 0;
  std::memcpy(&cli, &table[72], 4);
  const int cliHandle = static_cast<int>(syscall(SYS_pidfd_open, cli, 0));  // to end it, should
  ASSERT_GE(cliHandle, 0);                                                  // the test fail
  const int32_t alive = getpid(), gone = 0x7ffffff0;
  for (int slot : {3, 7}) table[slot * 116 + 4] = 1, table[slot * 116 + 5] = 2;  // this library's
  std::memcpy(&table[3 * 116 + 72], &gone, 4);
  std::memcpy(&table[7 * 116 + 72], &alive, 4);
  table[5 * 116 + 4] = 1, table[5 * 116 + 5] = 7;
  std::memcpy(&table[5 * 116 + 72], &alive, 4);
  sim_.writeTable(table);
  ASSERT_EQ(mkfifo(sim_.pipe("clPipeW3").c_str(), 0600), 0);
  std::ofstream(sim_.pipe("clPipeR5")) << "";
  const ToolRun run = runTool({"slots"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::istringstream listed(run.out);
  const std::string self = std::to_string(alive);
  EXPECT_EQ(Strings(std::istream_iterator<std::string>(listed), {}),
            (Strings{"slot", "type", "process", "state", "held", "pipes", "0", "2", "(zubdm)",
                     std::to_string(cli), "alive", "no", sim_.pipe("clPipeW0"),
                     sim_.pipe("clPipeR0"), "3", "2", "(zubdm)", "2147483632", "gone", "no",
                     sim_.pipe("clPipeW3"), "5", "7", self, "alive", "no", sim_.pipe("clPipeR5"),
                     "7", "2", "(zubdm)", self, "alive", "no", "-"}));
  // No host holds slots 0, 3 and 7: slot 0's CLI is ended and it goes with
  // its pipes, as does slot 3; slot 7's process is no CLI and is left
  // alone. Slot 5 is another program's and stays, as does the file at its
  // pipe's name.
  const ToolRun freed = runTool({"slots", "--free-stale"});
  EXPECT_EQ(freed.out, "freed slot 0 after ending its CLI (process " + std::to_string(cli) +
                           ")\nremoved " + sim_.pipe("clPipeW0") + "\nremoved " +
                           sim_.pipe("clPipeR0") + "\nfreed slot 3\nremoved " +
                           sim_.pipe("clPipeW3") + "\nslot 7 stays: process " + self +
                           " is alive and is not the CLI started for slot 7\n2 stale slots freed\n");
  struct pollfd ended = {cliHandle, POLLIN, 0};
  EXPECT_EQ(poll(&ended, 1, 0), 1) << "the CLI still runs";
  syscall(SYS_pidfd_send_signal, cliHandle, SIGKILL, nullptr, 0);
  close(cliHandle);
  std::memset(&table[0], 0, 116);
  std::memset(&table[3 * 116], 0, 116);
  EXPECT_EQ(sim_.readTable(), table);
  unlink(sim_.pipe("clPipeR5").c_str());
  sim_.writeTable(freeTable());
}

TEST_F(ZubdmCommand, RecordingReplaysTheSessionByteForByte) {
  const std::string scenario = file("canned.json",
           ScenarioBuilder().reply("show clock", std::string("\0\xff\r\n", 4), false).json());
  const std::string batch = file("batch", std::string("show interfaces\n") + kSnippet +
                                              "show interfaces\nshow clock\nfrobnicate\n");
  const std::string recording = dir_.file("recording.json");
  const Strings common = {"--simulator", "--keep-going", "--raw", "--batch", batch, "--scenario"};
  Strings args = common;
  args.insert(args.end(), {scenario, "--record", recording});
  const ToolRun recorded = runTool(args);
  EXPECT_TRUE(contains(recorded.out, "admin=\"down\""));
  args = common;
  args.push_back(recording);
  const ToolRun replayed = runTool(args);
  EXPECT_EQ(replayed.status, 1) << replayed.err;
  EXPECT_EQ(replayed.out, recorded.out);
  // Answered from the recording: the simulator itself has no such reply.
  EXPECT_TRUE(contains(replayed.out, std::string("\0\xff\r\n", 4)));
  // A mask stays within its line, as grep -E's would.
  EXPECT_EQ(runTool({"--simulator", "--mask", "Hostname: [^ ]+", "--record", recording,
                     "show version"}).status, 0);
  EXPECT_TRUE(contains(slurp(recording), R"(1.0.0\r\n****\nInterfaces: 3)")) << slurp(recording);
}

TEST_F(ZubdmCommand, SignalsEndTheRunAndFreeWhatItHeld) {
  struct Row {
    int signal;  // sent once the command is sent (0: none; the output goes to a closed pipe)
    int status;
  } rows[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}, {0, 141}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    sim_.clearTranscript();
    Tool tool({"--simulator", row.signal ? "show bulk 1024M" : "show version"}, "/dev/null",
              row.signal ? Tool::Streams::Files : Tool::Streams::BrokenPipe);
    ASSERT_TRUE(!row.signal || received("1 show bulk 1024M"));
    tool.signal(row.signal);
    EXPECT_EQ(tool.finish().status, row.status);
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
      // A slow reply shows its progress on the terminal after a second, and
      // the line is cleared before the result is printed.
      {"show trickle\r", nullptr, " bytes so far, 1 s"},
      {"", nullptr, "\r\033[K[root] show trickle"},
      {"show half\r", nullptr, nullptr},
      {"\003", "3 show half", "zubdm: cancelled"},
      {"show interfaces\r", nullptr, "state: Success"},
      {":quit\r", nullptr, nullptr},
  };
  sim_.setScenario(
      ScenarioBuilder()
          .reply("show half", "first half\r\n", false, R"("fault": "hang")")
          .reply("show trickle", std::string(1500, 'x') + "\r\n", false, R"("write_chunk": 1)")
          .json());
  const std::string recording = dir_.file("recording.json");
  Tool shell({"--simulator", "--record", recording, "shell"}, "", Tool::Streams::Terminal);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.keys);
    ASSERT_TRUE(!step.waitFor || received(step.waitFor));
    shell.type(step.keys);
    EXPECT_TRUE(!step.shows || shell.expect(step.shows));
  }
  EXPECT_EQ(shell.finish().status, 1) << "the cancelled command did not succeed";
  EXPECT_EQ(sim_.transcript().back(), "4 show interfaces");
  // The cancelled command is left out of the recording, its mode line too.
  const nlohmann::json scenario = nlohmann::json::parse(slurp(recording));
  Strings recorded;
  for (const auto& exchange : scenario["exchanges"]) recorded.push_back(exchange["command"]);
  EXPECT_EQ(recorded,
            (Strings{"end", "show version", "end", "show trickle", "end", "show interfaces"}));
}
