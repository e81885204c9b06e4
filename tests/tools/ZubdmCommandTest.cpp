#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/SimulatorEnvironment.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Runs the zubdm command with `args`, standard input from `input` (a file;
// empty: nothing), HOME in a private directory; `path` replaces PATH when
// not empty, otherwise the simulator's directory comes first on it.
ToolRun zubdm(const std::vector<std::string>& args, const std::string& path = "",
              const std::string& input = "") {
  TempDir dir;
  const std::string out = dir.file("out"), err = dir.file("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(),
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<std::string> all = {ZUBDM_TOOL_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  std::vector<std::string> env;
  const char* oldPath = std::getenv("PATH");
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("HOME=", 0) != 0 && entry.rfind("PATH=", 0) != 0) env.push_back(entry);
  }
  env.push_back("HOME=" + dir.path());
  env.push_back("PATH=" + (path.empty() ? ZUBDM_SIM_DIR ":" + std::string(oldPath ? oldPath : "")
                                        : path));
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(&entry[0]);
  envp.push_back(nullptr);
  pid_t pid = -1;
  ToolRun run;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = slurp(out);
  run.err = slurp(err);
  return run;
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// The command runs on the test's private element: its start-up hook takes
// the names from the environment.
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
    EXPECT_EQ(sim_.readTable(),
              std::vector<unsigned char>(SimulatorEnvironment::TABLE_SIZE, 0));
  }
  SimulatorEnvironment sim_;
};

}  // namespace

TEST_F(ZubdmCommand, ExitStatusTellsSuccessFailureAndUsage) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* inErr;
  } cases[] = {
      {"show command", {"--simulator", "show interfaces"}, 0, ""},
      {"rejected command", {"--simulator", "frobnicate"}, 1, ""},
      {"value not found", {"--simulator", "show interfaces", "--find", "Z", "port", "admin"}, 1, ""},
      {"no command", {"--simulator"}, 2, "no command given"},
      {"unknown option", {"--simulator", "--bogus", "x"}, 2, "unknown option --bogus"},
      {"unknown mode", {"--simulator", "-m", "config-xyz", "show version"}, 2,
       "known modes: config config-controller config-if root"},
      {"-c with -m", {"-c", "end", "-m", "config", "x"}, 2, "exclude each other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun run = zubdm(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
  }
}

TEST_F(ZubdmCommand, MissingCliIsExplained) {
  setenv("ZUBDM_TEST_CLI", "cli", 1);
  const ToolRun run = zubdm({"show version"}, "/nonexistent");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("'cli' was not found on PATH"), std::string::npos) << run.err;
}

TEST_F(ZubdmCommand, JsonCarriesBothStatesOutputErrorsAndLookups) {
  const ToolRun run = zubdm({"--simulator", "--json", "show version", "frobnicate", "show interfaces",
                         "--find", "C", "port", "admin", "--values", "OBJ", "id", "\""});
  EXPECT_EQ(run.status, 1);
  const std::vector<nlohmann::json> results = jsonLines(run.out);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0]["state"], "Success");
  EXPECT_EQ(results[0]["stored_state"], "Failed");  // plain text is no show document
  EXPECT_EQ(results[0]["messages"].size(), 1u);
  EXPECT_EQ(results[1]["state"], "Failed");
  EXPECT_NE(results[1]["errors"][0].get<std::string>().find("Device error: Error:"),
            std::string::npos);
  EXPECT_EQ(results[2]["stored_state"], "PartialSuccess");
  EXPECT_EQ(results[2]["found"], "up");
  EXPECT_EQ(results[2]["values"], (nlohmann::json{"A", "B", "C"}));
}

TEST_F(ZubdmCommand, ModeIsEnteredStepByStepBeforeEachCommand) {
  const ToolRun run = zubdm({"--simulator", "-m", "config-if", "-a", "A", "shutdown", "no shutdown"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(sim_.transcript(),
            (std::vector<std::string>{"LOGIN root", "end", "configure terminal", "interface A",
                                      "1 shutdown", "end", "configure terminal", "interface A",
                                      "2 no shutdown"}));
}

TEST_F(ZubdmCommand, BatchStopsAtTheFirstFailureUnlessToldToGoOn) {
  TempDir dir;
  std::ofstream(dir.file("batch")) << "# comment\n\nshow version\nfrobnicate\nshow interfaces\n";
  const ToolRun stop = zubdm({"--simulator", "--json", "--batch", dir.file("batch")});
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(jsonLines(stop.out).size(), 2u);
  const ToolRun on = zubdm({"--simulator", "--json", "--keep-going", "--batch", dir.file("batch")});
  EXPECT_EQ(on.status, 1);
  EXPECT_EQ(jsonLines(on.out).size(), 3u);
  EXPECT_EQ(zubdm({"--simulator", "--batch", dir.file("none")}).status, 2);
}

TEST_F(ZubdmCommand, ShellFollowsModeCommandsAndAnswersHelpers) {
  TempDir dir;
  std::ofstream(dir.file("input")) << "configure terminal\ninterface C\nshutdown\nexit\n"
                                      "hostname edge\nend\nshow interfaces\n"
                                      ":find C port admin\n:values OBJ id \"\n:quit\n"
                                      "show version\n";
  const ToolRun run = zubdm({"--simulator", "shell"}, "", dir.file("input"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(sim_.transcript(),
            (std::vector<std::string>{"LOGIN root", "end", "configure terminal", "interface C",
                                      "1 shutdown", "end", "configure terminal", "2 hostname edge",
                                      "end", "3 show interfaces"}));
  EXPECT_NE(run.out.find("\ndown\nA\nB\nC\n"), std::string::npos) << run.out;
}
