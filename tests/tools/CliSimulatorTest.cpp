// The simulator's scenario keys for a real shell's ways, each on its own,
// byte for byte on the wire: the simulator is driven here directly over its
// pipes, without the library in between.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/SimulatorEnvironment.h"

extern char** environ;

namespace {

// The simulator on slot 0 of a private element, logged in; ended and
// reaped at the end.
class DirectSimulator {
 public:
  explicit DirectSimulator(const std::string& scenario) : element_(scenario) {
    mkfifo(element_.pipe("clPipeW0").c_str(), 0600);
    mkfifo(element_.pipe("clPipeR0").c_str(), 0600);
    char program[] = ZUBDM_SIM_DIR "/cli";
    char flag[] = "-n";
    char index[] = "0";
    char* argv[] = {program, flag, index, nullptr};
    if (posix_spawn(&pid_, program, nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    // Read-write: the open does not wait, and the simulator's read end opens.
    in_ = open(element_.pipe("clPipeW0").c_str(), O_RDWR | O_CLOEXEC);
    out_ = open(element_.pipe("clPipeR0").c_str(), O_RDONLY | O_CLOEXEC);
    readUntil("Login:");
    write("root\r\n");
    readUntil("Password:");
    write("tquvz\r\n");
    readUntil("HVB# ");
  }
  ~DirectSimulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    close(in_);
    close(out_);
  }

  void write(const std::string& bytes) const {
    EXPECT_EQ(::write(in_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Everything read until it ends with `end` (or 2 s pass).
  std::string readUntil(const std::string& end) const {
    return readWhile([&](const std::string& got) {
      return got.size() >= end.size() && got.compare(got.size() - end.size(), end.size(), end) == 0;
    });
  }
  // The next `count` bytes (fewer when 2 s pass first).
  std::string read(size_t count) const {
    return readWhile([&](const std::string& got) { return got.size() >= count; });
  }

 private:
  template <typename Done>
  std::string readWhile(const Done& done) const {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done(got)) {
      struct pollfd ready = {out_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1) break;
      char buffer[4096];
      const ssize_t n = ::read(out_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  SimulatorEnvironment element_;
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
};

const char kVersion[] =
    "Element CLI simulator\r\nSoftware version 1.0.0\r\nHostname: element\r\nInterfaces: 3\r\n";

TEST(CliSimulatorShellKeys, EachKeyWritesWhatTheRealShellWrites) {
  struct Row {
    const char* name;
    const char* keys;      // scenario keys besides "prompt_suffix": " "
    std::vector<std::string> lines;  // sent in turn, each with "\n\r"
    const char* wire;      // everything written back after the first prompt
  };
  const Row rows[] = {
      {"terminal_echo: the line as typed, HVB kept, number dropped",
       R"("terminal_echo": true)",
       {"5 show version", "6 interface HVB-x"},
       "show version\r\n%VERSION%HVB# interface HVB-x\r\n"
       "Error: Invalid input detected: interface HVb-x\r\nHVB# "},
      {"help_key: help, a redrawn line, and the line end runs the kept text",
       R"("terminal_echo": true, "help_key": true)",
       {"1 configure terminal", "2 interface A", "3 description why?", "4 show interfaces"},
       "configure terminal\r\nHVB(config)# interface A\r\nHVB(config-if)# description why\r\n"
       "  LINE  Characters describing this interface\r\nHVB(config-if)# description why\r\n"
       "HVB(config-if)# show interfaces\r\n"},
      {"percent_errors: unknown and incomplete commands",
       R"("percent_errors": true)",
       {"frob HVB", "configure terminal", "interface"},
       "% Unknown command: frob HVB\r\nHVB# HVB(config)# % Command incomplete: interface\r\n"
       "HVB(config)# "},
      {"prompt_like_names: a name that looks like a prompt starts a line",
       R"("prompt_like_names": true)",
       {"show interface brief"},
       "Interface       Status  VRF             Addresses\r\n"
       "---------       ------  ---             ---------\r\n"
       "A               up      default         \r\nB               up      default         \r\n"
       "C               up      default         \r\nHVB-x#1         up      default         \r\n"
       "\r\nHVB# "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DirectSimulator simulator(std::string(R"({"prompt_suffix": " ", )") + row.keys + "}");
    std::string wire = row.wire;
    const size_t version = wire.find("%VERSION%");
    if (version != std::string::npos) wire.replace(version, 9, kVersion);
    for (const std::string& line : row.lines) simulator.write(line + "\n\r");
    EXPECT_EQ(simulator.read(wire.size()).substr(0, wire.size()), wire);
  }
}

// A line written while a slow reply is being written is echoed inside that
// reply at once, and again after the prompt, when it is read.
TEST(CliSimulatorShellKeys, TypedAheadLineIsEchoedWhereItArrivesAndWhenRead) {
  DirectSimulator simulator(
      R"({"prompt_suffix": " ", "terminal_echo": true, "typed_ahead_echo": true,
          "commands": {"show slow": {"reply": "one\r\ntwo\r\nthree\r\nfour\r\n", "write_chunk": 2}}})");
  simulator.write("1 show slow\n\r");
  simulator.readUntil("one");
  simulator.write("2 show version\n\r");
  const std::string got = simulator.readUntil(std::string(kVersion) + "HVB# ");
  const size_t prompt = got.find("HVB# ");
  ASSERT_NE(prompt, std::string::npos) << got;
  EXPECT_NE(got.substr(0, prompt).find("show version\r\n"), std::string::npos) << got;
  EXPECT_EQ(got.substr(prompt), "HVB# show version\r\n" + std::string(kVersion) + "HVB# ");
}

}  // namespace
