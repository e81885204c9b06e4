// Drives the built CLI simulator through a pipe pair in a private directory,
// the way the library does: input lines end in "\n\r", replies end in the
// prompt.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const char kSim[] = ZUBDM_SIM_DIR "/cli";
const int kTimeoutMs = 10000;

int openFdCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

// End of the first prompt ("HVB" ... "#") in `text`, or npos.
size_t promptEnd(const std::string& text) {
  const size_t start = text.find("HVB");
  if (start == std::string::npos) return std::string::npos;
  const size_t hash = text.find('#', start);
  return hash == std::string::npos ? hash : hash + 1;
}

// A simulator child seen from the library's side of its pipes. Kills and
// reaps the child and closes our pipe ends on stop() and destruction.
class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess() { stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts the simulator with `args` and the environment entries `env`
  // added (inherited ZUBDM_CLI_* entries dropped); its standard output and
  // error go to `outputPath`.
  void start(const std::vector<std::string>& args,
             const std::vector<std::string>& env,
             const std::string& outputPath) {
    std::vector<std::string> strings = {kSim};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(strings.size() + 1);
    for (std::string& s : strings) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    std::vector<std::string> entries = env;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "ZUBDM_CLI_", 10) != 0) entries.push_back(*e);
    }
    std::vector<char*> envp;
    envp.reserve(entries.size() + 1);
    for (std::string& s : entries) envp.push_back(&s[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc =
        posix_spawn(&pid_, kSim, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(rc, 0) << std::strerror(rc);
  }

  // Opens the input pipe for writing, then the output pipe for reading.
  bool openPipes(const std::string& dir) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
    const std::string input = dir + "/clPipeW0";
    while ((in_ = open(input.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
      if (errno != ENXIO || Clock::now() > deadline || wait(0) != -1) {
        return false;
      }
      usleep(2000);
    }
    fcntl(in_, F_SETFL, 0);
    const std::string output = dir + "/clPipeR0";
    out_ = open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return out_ >= 0;
  }

  void send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ASSERT_GT(n, 0) << std::strerror(errno);
      done += static_cast<size_t>(n);
    }
  }

  // As the library sends a command: its bytes, then "\n\r", in two writes.
  void sendLine(const std::string& command) {
    send(command);
    send("\n\r");
  }

  // The next reply, up to and including its prompt's "#"; later bytes stay
  // for the next call. On time-out or end of file: what arrived.
  std::string reply() {
    readUntil([](const std::string& s) { return promptEnd(s) != s.npos; },
              kTimeoutMs);
    return take(promptEnd(pending_));
  }

  // Everything up to and including `text`, or what arrived before time-out.
  std::string readThrough(const std::string& text) {
    readUntil([&](const std::string& s) { return s.find(text) != s.npos; },
              kTimeoutMs);
    const size_t at = pending_.find(text);
    return take(at == std::string::npos ? at : at + text.size());
  }

  // At least `size` bytes, or what arrived before time-out or end of file.
  std::string readAtLeast(size_t size) {
    readUntil([&](const std::string& s) { return s.size() >= size; },
              kTimeoutMs);
    return take(std::string::npos);
  }

  // Whatever arrives within `ms` or before end of file.
  std::string readFor(int ms) {
    readUntil([](const std::string&) { return false; }, ms);
    return take(std::string::npos);
  }

  // Counts the bytes of a reply that ends in the root prompt, keeping none.
  uint64_t countReply() {
    uint64_t count = 0;
    std::string tail;
    while (!eof_ &&
           (tail.size() < 4 || tail.compare(tail.size() - 4, 4, "HVB#") != 0)) {
      readUntil([](const std::string& s) { return !s.empty(); }, kTimeoutMs);
      if (pending_.empty()) break;
      count += pending_.size();
      tail += pending_;
      if (tail.size() > 4) tail.erase(0, tail.size() - 4);
      pending_.clear();
    }
    return count;
  }

  bool eof() const { return eof_; }
  int reads() const { return reads_; }
  void closeInput() { closeFd(in_); }
  void closeOutput() { closeFd(out_); }
  void terminate() { kill(pid_, SIGTERM); }

  // Exit status once the child has ended within `ms` (128 + signal for a
  // killed child), or -1 while it still runs.
  int wait(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (status_ == -1 && pid_ > 0) {
      int raw = 0;
      const pid_t done = waitpid(pid_, &raw, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        pid_ = -1;
      } else if (Clock::now() >= deadline) {
        break;
      } else {
        usleep(2000);
      }
    }
    return status_;
  }

  void stop() {
    closeInput();
    closeOutput();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
    }
  }

  // stop(), then ready for the next start().
  void reset() {
    stop();
    status_ = -1;
    eof_ = false;
    reads_ = 0;
    pending_.clear();
  }

 private:
  void readUntil(const std::function<bool(const std::string&)>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    char buffer[64 * 1024];
    while (!done(pending_) && !eof_ && out_ >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - Clock::now())
                            .count();
      if (left <= 0) return;
      pollfd p = {out_, POLLIN, 0};
      const int ready = poll(&p, 1, static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return;
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n > 0) {
        pending_.append(buffer, static_cast<size_t>(n));
        ++reads_;
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        eof_ = true;
      }
    }
  }

  std::string take(size_t end) {
    if (end == std::string::npos) end = pending_.size();
    std::string out = pending_.substr(0, end);
    pending_.erase(0, end);
    return out;
  }

  static void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }

  pid_t pid_ = -1;
  int status_ = -1;
  int in_ = -1;
  int out_ = -1;
  bool eof_ = false;
  int reads_ = 0;
  std::string pending_;
};

class CliSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    // A simulator that is gone must show up as a failed write, not kill us.
    oldPipeHandler_ = signal(SIGPIPE, SIG_IGN);
    fdsBefore_ = openFdCount();
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(mkfifo(dir_.file("clPipeW0").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir_.file("clPipeR0").c_str(), 0600), 0);
  }

  void TearDown() override {
    sim_.stop();
    EXPECT_EQ(openFdCount(), fdsBefore_);
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    signal(SIGPIPE, oldPipeHandler_);
  }

  // Starts the simulator on slot 0 of our directory with `scenario` (JSON;
  // none when empty) and the extra environment entries `env`.
  void launch(const std::string& scenario = "",
              std::vector<std::string> env = {}) {
    env.push_back("ZUBDM_CLI_PIPE_DIR=" + dir_.path());
    if (!scenario.empty()) {
      writeFile(dir_.file("scenario.json"), scenario);
      env.push_back("ZUBDM_CLI_SCENARIO=" + dir_.file("scenario.json"));
    }
    sim_.start({"-n", "0"}, env, dir_.file("output"));
  }

  // launch(), then the library's login; returns the first prompt.
  std::string connect(const std::string& scenario = "",
                      const std::vector<std::string>& env = {}) {
    launch(scenario, env);
    if (!sim_.openPipes(dir_.path())) return "pipes not opened";
    if (sim_.readThrough("Login:") != "Login:") return "no Login:";
    sim_.send("root\r\n");
    if (sim_.readThrough("Password:") != "Password:") return "no Password:";
    sim_.send("tquvz\r\n");
    return sim_.reply();
  }

  std::string command(const std::string& line) {
    sim_.sendLine(line);
    return sim_.reply();
  }

  TempDir dir_;
  SimProcess sim_;
  int fdsBefore_ = 0;
  void (*oldPipeHandler_)(int) = SIG_DFL;
};

TEST_F(CliSimulator, LoginRefusesWrongCredentialsThenAcceptsRoot) {
  launch("", {"ZUBDM_CLI_TRANSCRIPT=" + dir_.file("transcript")});
  ASSERT_TRUE(sim_.openPipes(dir_.path()));
  for (const char* user : {"root", "admin"}) {
    EXPECT_EQ(sim_.readThrough("Login:"), "Login:");
    sim_.send(std::string(user) + "\r\n");
    EXPECT_EQ(sim_.readThrough("Password:"), "Password:");
    sim_.send(user == std::string("root") ? "wrong\r\n" : "tquvz\r\n");
    EXPECT_EQ(sim_.readThrough("\r\nLogin incorrect\r\n"),
              "\r\nLogin incorrect\r\n");
  }
  EXPECT_EQ(sim_.readThrough("Login:"), "Login:");
  sim_.send("root\r\n");
  EXPECT_EQ(sim_.readThrough("Password:"), "Password:");
  sim_.send("tquvz\r\n");
  EXPECT_EQ(sim_.reply(), "HVB#");
  EXPECT_EQ(readFile(dir_.file("transcript")),
            "LOGIN root\nLOGIN admin\nLOGIN root\n");
}

TEST_F(CliSimulator, ModeCommandsChangeThePrompt) {
  ASSERT_EQ(connect(), "HVB#");
  const struct {
    const char* command;
    const char* prompt;
  } steps[] = {
      {"exit", "HVB#"},
      {"configure terminal", "HVB(config)#"},
      {"interface X9", "HVB(config-if)#"},
      {"exit", "HVB(config)#"},
      {"controller 1/1", "HVB(config-controller)#"},
      {"exit", "HVB(config)#"},
      {"interface A", "HVB(config-if)#"},
      {"end", "HVB#"},
      {"config", "HVB(config)#"},
      {"hostname lab-1", "HVB(config)#"},
      {"exit", "HVB#"},
      {"c", "HVB(config)#"},
      {"controller C1", "HVB(config-controller)#"},
      {"end", "HVB#"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.command);
    EXPECT_EQ(command(step.command), step.prompt);
  }
  EXPECT_NE(command("show version").find("Hostname: lab-1\r\n"),
            std::string::npos);
}

TEST_F(CliSimulator, LineFramingStripsCommandNumberAndCarriageReturns) {
  ASSERT_EQ(connect(), "HVB#");
  const struct {
    const char* line;
    const char* replyStart;
  } cases[] = {
      {"12 show version", "Element CLI simulator\r\n"},
      {"7 ", "HVB#"},
      {"", "HVB#"},
      {"007 configure terminal", "HVB(config)#"},
      {"12 end", "HVB#"},
      {"12show version", "Error: Invalid input detected: 12show version\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(command(c.line).rfind(c.replyStart, 0), 0u);
  }
  // Two lines in one write, and one line split over three writes.
  sim_.send("configure terminal\n\rend\n\r");
  EXPECT_EQ(sim_.reply(), "HVB(config)#");
  EXPECT_EQ(sim_.reply(), "HVB#");
  sim_.send("c");
  sim_.send("onfig");
  sim_.send("\n\r");
  EXPECT_EQ(sim_.reply(), "HVB(config)#");
}

TEST_F(CliSimulator, InvalidCommandsReplyWithErrorAndKeepTheMode) {
  ASSERT_EQ(connect(), "HVB#");
  const std::vector<const char*> root;
  const std::vector<const char*> config = {"configure terminal"};
  const std::vector<const char*> configIf = {"configure terminal",
                                             "interface B"};
  const std::vector<const char*> controller = {"configure terminal",
                                               "controller K"};
  const struct {
    const std::vector<const char*>& setup;  // leads from the root to the mode
    const char* command;
    const char* prompt;
  } cases[] = {
      {root, "bogus", "HVB#"},
      {root, "shutdown", "HVB#"},
      {root, "interface A", "HVB#"},
      {root, "hostname h", "HVB#"},
      {root, "show objects many", "HVB#"},
      {root, "show bulk 2048M", "HVB#"},
      {root, "show bulk 5X", "HVB#"},
      {config, "configure terminal", "HVB(config)#"},
      {config, "interface", "HVB(config)#"},
      {config, "hostname bad<name>", "HVB(config)#"},
      {configIf, "hostname x", "HVB(config-if)#"},
      {controller, "shutdown", "HVB(config-controller)#"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    for (const char* step : c.setup) command(step);
    EXPECT_EQ(command(c.command),
              std::string("Error: Invalid input detected: ") + c.command +
                  "\r\n" + c.prompt);
    EXPECT_EQ(command("end"), "HVB#");
  }
}

TEST_F(CliSimulator, HostileInputNeverShowsPromptTextOrStopsTheSession) {
  ASSERT_EQ(connect(), "HVB#");
  const std::string lines[] = {
      "say HVB# now",
      std::string("\x01\xff\0zz", 5),
      std::string(2 << 20, 'a'),
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(line.substr(0, 16));
    const std::string reply = command(line);
    EXPECT_EQ(reply.rfind("Error:", 0), 0u);
    EXPECT_EQ(countOf(reply, "HVB"), 1u);
    EXPECT_EQ(reply.substr(reply.size() - 4), "HVB#");
  }
  EXPECT_EQ(command("configure terminal"), "HVB(config)#");
}

TEST_F(CliSimulator, ShowInterfacesReflectsShutdownAndEscapesDescription) {
  ASSERT_EQ(connect(), "HVB#");
  for (const char* line :
       {"configure terminal", "interface B", "shutdown",
        "description a&b <c> \"HVB\"", "exit", "interface Z7", "end"}) {
    command(line);
  }
  const std::string reply = command("show interfaces");
  const size_t start = reply.find("<SHOW");
  const size_t end = reply.find("</SHOW>\r\nHVB#");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  const std::string xml = reply.substr(start, end + 7 - start);
  EXPECT_EQ(countOf(xml, "<OBJ id="), 4u);
  EXPECT_EQ(countOf(xml, "</OBJ>"), 4u);
  EXPECT_NE(
      xml.find("<OBJ id=\"B\">\r\n    <port admin=\"down\" oper=\"down\""),
      std::string::npos);
  EXPECT_NE(xml.find("<OBJ id=\"Z7\">\r\n    <port admin=\"up\""),
            std::string::npos);
  EXPECT_NE(xml.find("description=\"a&amp;b &lt;c&gt; &quot;HV&#66;&quot;\""),
            std::string::npos);
  EXPECT_EQ(countOf(reply, "HVB"), 1u);
}

TEST_F(CliSimulator, ShowObjectsAndBulkHaveTheRequestedSize) {
  ASSERT_EQ(connect(), "HVB#");
  EXPECT_EQ(command("show objects 0"), "<SHOW>\r\n</SHOW>\r\nHVB#");
  const std::string objects = command("show objects 3");
  EXPECT_EQ(countOf(objects, "<OBJ "), 3u);
  EXPECT_NE(objects.find("<OBJ id=\"obj3\">\r\n    <port state=\"up\" "
                         "index=\"3\"/>"),
            std::string::npos);
  const std::string small = command("show bulk 1000");
  EXPECT_EQ(small.rfind("<SHOW>", 0), 0u);
  EXPECT_EQ(small.size(), 1000u + 4);
  const struct {
    const char* size;
    uint64_t bytes;
  } cases[] = {{"64K", 64 << 10}, {"3M", 3 << 20}, {"256M", 256ull << 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    sim_.sendLine(std::string("show bulk ") + c.size);
    const uint64_t bytes = sim_.countReply() - 4;
    EXPECT_GE(bytes, c.bytes * 97 / 100);
    EXPECT_LE(bytes, c.bytes * 103 / 100);
  }
}

TEST_F(CliSimulator, ScenarioRepliesReplaceBuiltinOnes) {
  ASSERT_EQ(connect(R"({"commands": {
      "show version": {"reply": "custom\r\n"},
      "hex": {"reply_hex": "41 00 42 0d 0a"},
      "nul": {"reply": "a\u0000b"},
      "rep": {"reply": "ab", "repeat": 3},
      "go": {"then_mode": "config-if"},
      "chunked": {"reply": "0123456789", "write_chunk": 2},
      "slow": {"reply": "late", "delay_ms": 150},
      "big": {"reply": "0123456789abcdef", "repeat": 524288},
      "raw": {"reply": "no prompt", "raw": true}}})"),
            "HVB#");
  const struct {
    const char* line;
    std::string reply;
  } cases[] = {
      {"4 show version", "custom\r\nHVB#"},
      {"hex", std::string("A\0B\r\nHVB#", 9)},
      {"nul", std::string("a\0bHVB#", 7)},
      {"rep", "abababHVB#"},
      {"go", "HVB(config-if)#"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(command(c.line), c.reply);
  }
  command("end");
  const int readsBefore = sim_.reads();
  EXPECT_EQ(command("chunked"), "0123456789HVB#");
  EXPECT_GE(sim_.reads() - readsBefore, 2);
  const auto before = Clock::now();
  EXPECT_EQ(command("slow"), "lateHVB#");
  EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(150));
  sim_.sendLine("big");
  EXPECT_EQ(sim_.countReply(), (8u << 20) + 4);
  sim_.sendLine("raw");
  EXPECT_EQ(sim_.readFor(200), "no prompt");
}

TEST_F(CliSimulator, EchoAndPromptSuffixFrameEachReply) {
  ASSERT_EQ(connect(R"({"echo": true, "prompt_suffix": " "})"), "HVB#");
  EXPECT_EQ(command("12 configure terminal"),
            " 12 configure terminal\r\nHVB(config)#");
  EXPECT_EQ(command("end"), " end\r\nHVB#");
}

TEST_F(CliSimulator, StartFaultsEndTheSessionAsScheduled) {
  const struct {
    const char* fault;
    bool login;          // run the login dialogue first
    const char* output;  // what arrives before end of file or the pause
    bool closeInput;     // our write end is closed to end the simulator
    int status;
  } cases[] = {
      {"exit_at_login", false, "Login:", false, 1},
      {"never_prompt", false, "", true, 0},
      {"exit_after_login", true, "", false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    launch(std::string("{\"fault\": \"") + c.fault + "\"}");
    ASSERT_TRUE(sim_.openPipes(dir_.path()));
    if (c.login) {
      EXPECT_EQ(sim_.readThrough("Login:"), "Login:");
      sim_.send("root\r\n");
      EXPECT_EQ(sim_.readThrough("Password:"), "Password:");
      sim_.send("tquvz\r\n");
      EXPECT_EQ(sim_.reply(), "HVB#");
    }
    EXPECT_EQ(sim_.readFor(c.closeInput ? 200 : kTimeoutMs), c.output);
    EXPECT_NE(sim_.eof(), c.closeInput);
    if (c.closeInput) sim_.closeInput();
    EXPECT_EQ(sim_.wait(kTimeoutMs), c.status);
    sim_.reset();
  }
}

TEST_F(CliSimulator, ExitAtOnceEndsWithStatusThreeBeforeOpeningPipes) {
  launch(R"({"fault": "exit_at_once"})");
  EXPECT_EQ(sim_.wait(kTimeoutMs), 3);
}

TEST_F(CliSimulator, ReplyFaultsCutTheReplyShort) {
  enum class End { kSimExits, kCloseInput, kTerminate, kCloseOutput };
  const struct {
    const char* fault;
    const char* output;  // exact output, or its start for "endless"
    bool eof;            // the simulator closes its output
    End end;
    int status;
  } cases[] = {
      {"die_mid_reply", "abcd", true, End::kSimExits, 1},
      {"exit", "", true, End::kSimExits, 1},
      {"close_output", "abcd", true, End::kCloseInput, 0},
      {"hang", "abcd", false, End::kTerminate, 0},
      {"endless", "abcdefgh", false, End::kCloseOutput, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    ASSERT_EQ(connect(std::string(R"({"commands": {"go": {"reply": "abcdefgh",
                                   "fault": ")") +
                      c.fault + "\"}}}"),
              "HVB#");
    sim_.sendLine("go");
    const std::string output = c.end == End::kCloseOutput
                                   ? sim_.readAtLeast(1 << 20)
                                   : sim_.readFor(300);
    if (c.end == End::kCloseOutput) {
      EXPECT_EQ(output.rfind(c.output, 0), 0u);
      EXPECT_GE(output.size(), 1u << 20);
      EXPECT_EQ(output.find("HVB"), std::string::npos);
    } else {
      EXPECT_EQ(output, c.output);
    }
    EXPECT_EQ(sim_.eof(), c.eof);
    if (c.end != End::kSimExits) {
      EXPECT_EQ(sim_.wait(0), -1);
    }
    if (c.end == End::kCloseInput) sim_.closeInput();
    if (c.end == End::kTerminate) sim_.terminate();
    if (c.end == End::kCloseOutput) sim_.closeOutput();
    EXPECT_EQ(sim_.wait(kTimeoutMs), c.status);
    sim_.reset();
  }
}

TEST_F(CliSimulator, TranscriptRecordsLinesAsReceived) {
  // The environment's transcript wins over the scenario's.
  ASSERT_EQ(connect("{\"transcript\": \"" + dir_.file("unused") + "\"}",
                    {"ZUBDM_CLI_TRANSCRIPT=" + dir_.file("transcript")}),
            "HVB#");
  for (const char* line : {"end", "configure terminal", "12 show version"}) {
    command(line);
  }
  EXPECT_EQ(readFile(dir_.file("transcript")),
            "LOGIN root\nend\nconfigure terminal\n12 show version\n");
  EXPECT_NE(access(dir_.file("unused").c_str(), F_OK), 0);
}

TEST_F(CliSimulator, EndOfInputAndSigtermExitCleanly) {
  for (bool byTerm : {false, true}) {
    SCOPED_TRACE(byTerm ? "SIGTERM" : "end of input");
    ASSERT_EQ(connect(), "HVB#");
    if (byTerm) {
      sim_.terminate();
    } else {
      sim_.closeInput();
    }
    EXPECT_EQ(sim_.wait(kTimeoutMs), 0);
    sim_.reset();
  }
}

TEST_F(CliSimulator, BadUsageOrScenarioExitsWithTwo) {
  const struct {
    std::vector<std::string> args;
    const char* scenario;  // null: none
    int status;
    const char* message;
  } cases[] = {
      {{"-n", "0"}, "{", 2, "not a JSON object"},
      {{"-n", "0"}, R"({"ech": true})", 2, "unknown key \"ech\""},
      {{"-n", "0"}, R"({"echo": "yes"})", 2, "bad value for \"echo\""},
      {{"-n", "0"},
       R"({"commands": {"x": {"reply_hex": "4"}}})",
       2,
       "bad value for \"reply_hex\""},
      {{"-n", "0"},
       R"({"commands": {"x": {"reply": "", "reply_hex": ""}}})",
       2,
       "both"},
      {{"-n", "0"},
       R"({"commands": {"x": {"then_mode": "vr"}}})",
       2,
       "then_mode"},
      {{}, nullptr, 2, "missing -n INDEX"},
      {{"-n", "x"}, nullptr, 2, "bad slot index"},
      {{"--help"}, nullptr, 0, "Usage: cli -n INDEX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> env = {"ZUBDM_CLI_PIPE_DIR=" + dir_.path()};
    if (c.scenario) {
      writeFile(dir_.file("scenario.json"), c.scenario);
      env.push_back("ZUBDM_CLI_SCENARIO=" + dir_.file("scenario.json"));
    }
    sim_.start(c.args, env, dir_.file("output"));
    EXPECT_EQ(sim_.wait(kTimeoutMs), c.status);
    EXPECT_NE(readFile(dir_.file("output")).find(c.message), std::string::npos);
    sim_.reset();
  }
}

}  // namespace
