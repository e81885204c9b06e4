#ifndef ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H
#define ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H

#include <string>
#include <vector>

// Leak checks on the test process itself.
namespace ProcessState {

// Number of descriptors the process holds open.
int openDescriptors();
// True when the process has no child at all, running or zombie.
bool noChildren();
// Paths matching /tmp/clPipe* that exist now.
std::vector<std::string> cliPipeFiles();
// Resident set size in KiB.
long residentKiB();

}  // namespace ProcessState

// Puts the directory of the built CLI simulator first on PATH while in scope
// and points the simulator at a scenario file (empty: none).
class SimulatorEnvironment {
 public:
  explicit SimulatorEnvironment(const std::string& scenarioJson = "");
  ~SimulatorEnvironment();
  SimulatorEnvironment(const SimulatorEnvironment&) = delete;
  SimulatorEnvironment& operator=(const SimulatorEnvironment&) = delete;

  // Replaces the scenario for CLIs started from now on.
  void setScenario(const std::string& scenarioJson);
  // Lines the simulator received, as it recorded them.
  std::vector<std::string> transcript() const;
  void clearTranscript() const;

 private:
  std::string oldPath_;
  std::string directory_;
  std::string scenarioPath_;
  std::string transcriptPath_;
};

#endif  // ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H
