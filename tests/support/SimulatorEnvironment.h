#ifndef ZUBDM_TESTS_SUPPORT_SIMULATORENVIRONMENT_H
#define ZUBDM_TESTS_SUPPORT_SIMULATORENVIRONMENT_H

#include <glob.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <zubdm/mediator/MachineNamesSeam.h>
#include "support/SharedMemory.h"

// A private element for one test: its own CLI user table (1740 zero bytes),
// its own pipe directory and the built CLI simulator as the CLI program, set
// as the library's machine names while in scope, so that tests run side by
// side without touching the machine's table or /tmp/clPipe*. Points the
// simulator at the directory, a scenario (empty: none) and a transcript.
// Removes the table, the directory and its files at the end and restores
// the names.
class SimulatorEnvironment {
 public:
  static const int TABLE_SIZE = 1740;

  explicit SimulatorEnvironment(const std::string& scenarioJson = "") {
    static std::atomic<int> count{0};
    tableName_ = "/zubdm-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
    char pattern[] = "/tmp/zsXXXXXX";  // short: pipe paths are limited to 30 characters
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    directory_ = std::string(pattern) + "/";
    writeTable(std::vector<unsigned char>(TABLE_SIZE, 0));
    setCliProgram(ZUBDM_SIM_DIR "/cli");
    setenv("ZUBDM_CLI_PIPE_DIR", directory_.c_str(), 1);
    setenv("ZUBDM_CLI_TRANSCRIPT", (directory_ + "transcript").c_str(), 1);
    setScenario(scenarioJson);
  }
  ~SimulatorEnvironment() {
    zubdm::internal::setMachineNames(ZUB_DEVICE_MEDIATION::MachineNames());
    for (const char* name : {"ZUBDM_CLI_PIPE_DIR", "ZUBDM_CLI_SCENARIO", "ZUBDM_CLI_TRANSCRIPT"}) {
      unsetenv(name);
    }
    removeTable();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  SimulatorEnvironment(const SimulatorEnvironment&) = delete;
  SimulatorEnvironment& operator=(const SimulatorEnvironment&) = delete;

  // Replaces the scenario for CLIs started from now on.
  void setScenario(const std::string& scenarioJson) {
    const std::string path = directory_ + "scenario.json";
    std::ofstream(path) << scenarioJson;
    if (scenarioJson.empty()) unsetenv("ZUBDM_CLI_SCENARIO");
    if (!scenarioJson.empty()) setenv("ZUBDM_CLI_SCENARIO", path.c_str(), 1);
  }
  // Lines the simulator received, as it recorded them.
  std::vector<std::string> transcript() const {
    std::vector<std::string> lines;
    std::ifstream file(directory_ + "transcript");
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }
  void clearTranscript() const { std::ofstream(directory_ + "transcript", std::ios::trunc); }

  // The CLI program mediators start from now on (default: the simulator's
  // path); "cli" makes them look it up along PATH.
  void setCliProgram(const std::string& program) const {
    ZUB_DEVICE_MEDIATION::MachineNames names;
    names.userTable = tableName_;
    names.pipeDirectory = directory_;
    names.cliProgram = program;
    zubdm::internal::setMachineNames(names);
  }

  const std::string& tableName() const { return tableName_; }
  // The pipe directory's path of `file` (the directory ends in "/").
  std::string pipe(const std::string& file) const { return directory_ + file; }
  // Pipe files (clPipe*) in the directory now.
  std::vector<std::string> pipeFiles() const {
    std::vector<std::string> files;
    glob_t found = {};
    if (glob((directory_ + "clPipe*").c_str(), 0, nullptr, &found) == 0) {
      files.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    }
    globfree(&found);
    return files;
  }

  std::vector<unsigned char> readTable() const { return SharedMemory::read(tableName_); }
  // Replaces the table's bytes and size.
  void writeTable(const std::vector<unsigned char>& bytes) const {
    SharedMemory::write(tableName_, bytes);
  }
  // Removes the table, so the next mediator creates it.
  void removeTable() const { shm_unlink(tableName_.c_str()); }

 private:
  std::string directory_;
  std::string tableName_;
};

#endif  // ZUBDM_TESTS_SUPPORT_SIMULATORENVIRONMENT_H
