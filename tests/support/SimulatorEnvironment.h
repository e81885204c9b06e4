#ifndef ZUBDM_TESTS_SUPPORT_SIMULATORENVIRONMENT_H
#define ZUBDM_TESTS_SUPPORT_SIMULATORENVIRONMENT_H

#include <string>
#include <vector>

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

  explicit SimulatorEnvironment(const std::string& scenarioJson = "");
  ~SimulatorEnvironment();
  SimulatorEnvironment(const SimulatorEnvironment&) = delete;
  SimulatorEnvironment& operator=(const SimulatorEnvironment&) = delete;

  // Replaces the scenario for CLIs started from now on.
  void setScenario(const std::string& scenarioJson);
  // Lines the simulator received, as it recorded them.
  std::vector<std::string> transcript() const;
  void clearTranscript() const;

  // The CLI program mediators start from now on (default: the simulator's
  // path); "cli" makes them look it up along PATH.
  void setCliProgram(const std::string& program) const;

  const std::string& tableName() const { return tableName_; }
  // The pipe directory's path of `file` (the directory ends in "/").
  std::string pipe(const std::string& file) const { return directory_ + file; }
  // Pipe files (clPipe*) in the directory now.
  std::vector<std::string> pipeFiles() const;

  std::vector<unsigned char> readTable() const;
  // Replaces the table's bytes and size.
  void writeTable(const std::vector<unsigned char>& bytes) const;
  // Removes the table, so the next mediator creates it.
  void removeTable() const;

 private:
  std::string directory_;
  std::string tableName_;
  std::string scenarioPath_;
  std::string transcriptPath_;
};

#endif  // ZUBDM_TESTS_SUPPORT_SIMULATORENVIRONMENT_H
