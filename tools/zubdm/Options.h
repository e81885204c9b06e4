#ifndef ZUBDM_TOOLS_ZUBDM_OPTIONS_H
#define ZUBDM_TOOLS_ZUBDM_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

// What the command line asks of the zubdm command.
struct Options {
  std::string contextCommand;                // -c
  std::string mode;                          // -m
  std::optional<std::string> modeArgument;   // -a (given empty is not absent)
  std::string modePrefix;                    // -p
  std::vector<std::string> find;             // --find OBJ ITEM ATTR
  std::vector<std::string> values;           // --values MARKER KEY DELIMS
  std::string batchFile;                     // --batch ("-": standard input)
  std::string logFile;                       // --log
  std::string recordFile;                    // --record
  std::string scenarioFile;                  // --scenario
  std::vector<std::string> masks;            // --mask, repeatable
  std::vector<std::string> errorPrefixes;    // --error-prefix, repeatable
  bool keepGoing = false;
  bool json = false;
  bool raw = false;
  bool dryRun = false;
  bool yes = false;
  bool simulator = false;
  bool strict = false;
  bool verbose = false;
  bool shell = false;
  bool slots = false;
  bool freeStale = false;
  bool help = false;
  bool version = false;
  long connectTimeoutMs = -1;
  long replyTimeoutMs = -1;
  std::vector<std::string> commands;
};

// Parses argv; false with a message in `error` for a usage error. Checks
// the form of each option only; checkOptions() checks how they combine.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

// The usage text.
const char* usageText();

#endif  // ZUBDM_TOOLS_ZUBDM_OPTIONS_H
