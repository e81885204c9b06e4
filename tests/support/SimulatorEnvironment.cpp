#include "support/SimulatorEnvironment.h"

#include <glob.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "mediator/MachineNames.h"
#include "support/SharedMemory.h"

namespace {

std::string uniqueTableName() {
  static std::atomic<int> count{0};
  return "/zubdm-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
}

}  // namespace

SimulatorEnvironment::SimulatorEnvironment(const std::string& scenarioJson)
    : tableName_(uniqueTableName()) {
  // Short: pipe paths are limited to 30 characters.
  char pattern[] = "/tmp/zsXXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  directory_ = std::string(pattern) + "/";
  scenarioPath_ = directory_ + "scenario.json";
  transcriptPath_ = directory_ + "transcript";
  writeTable(std::vector<unsigned char>(TABLE_SIZE, 0));
  setCliProgram(ZUBDM_SIM_DIR "/cli");
  setenv("ZUBDM_CLI_PIPE_DIR", directory_.c_str(), 1);
  setenv("ZUBDM_CLI_TRANSCRIPT", transcriptPath_.c_str(), 1);
  setScenario(scenarioJson);
}

SimulatorEnvironment::~SimulatorEnvironment() {
  zubdm::internal::setMachineNames(zubdm::internal::MachineNames());
  unsetenv("ZUBDM_CLI_PIPE_DIR");
  unsetenv("ZUBDM_CLI_SCENARIO");
  unsetenv("ZUBDM_CLI_TRANSCRIPT");
  removeTable();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void SimulatorEnvironment::setCliProgram(const std::string& program) const {
  zubdm::internal::MachineNames names;
  names.userTable = tableName_;
  names.pipeDirectory = directory_;
  names.cliProgram = program;
  zubdm::internal::setMachineNames(names);
}

void SimulatorEnvironment::setScenario(const std::string& scenarioJson) {
  if (scenarioJson.empty()) {
    unsetenv("ZUBDM_CLI_SCENARIO");
    return;
  }
  std::ofstream(scenarioPath_) << scenarioJson;
  setenv("ZUBDM_CLI_SCENARIO", scenarioPath_.c_str(), 1);
}

std::vector<std::string> SimulatorEnvironment::transcript() const {
  std::vector<std::string> lines;
  std::ifstream file(transcriptPath_);
  std::string line;
  while (std::getline(file, line)) lines.push_back(line);
  return lines;
}

void SimulatorEnvironment::clearTranscript() const {
  std::ofstream(transcriptPath_, std::ios::trunc);
}

std::vector<std::string> SimulatorEnvironment::pipeFiles() const {
  std::vector<std::string> files;
  glob_t found = {};
  if (glob((directory_ + "clPipe*").c_str(), 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) files.push_back(found.gl_pathv[i]);
  }
  globfree(&found);
  return files;
}

std::vector<unsigned char> SimulatorEnvironment::readTable() const {
  return SharedMemory::read(tableName_);
}

void SimulatorEnvironment::writeTable(const std::vector<unsigned char>& bytes) const {
  SharedMemory::write(tableName_, bytes);
}

void SimulatorEnvironment::removeTable() const { shm_unlink(tableName_.c_str()); }
