#ifndef ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H
#define ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H

#include <cstddef>
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
// Children of this process, running or zombie.
int childCount();
// Highest resident set size since the last resetPeakResident(), in KiB.
long peakResidentKiB();
// Starts a new peak at the current resident set size; false when the kernel
// does not allow it.
bool resetPeakResident();
// Bytes the C heap holds for the program (0 where the allocator cannot
// tell, as under a sanitizer).
size_t heapInUse();

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
