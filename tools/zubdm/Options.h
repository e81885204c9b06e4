#ifndef ZUBDM_TOOLS_ZUBDM_OPTIONS_H
#define ZUBDM_TOOLS_ZUBDM_OPTIONS_H

#include <string>
#include <vector>

// What the command line asks of the zubdm command.
struct Options {
  std::string contextCommand;  // -c
  std::string mode;            // -m
  std::string modeArgument;    // -a
  std::string modePrefix;      // -p
  std::vector<std::string> find;    // --find OBJ ITEM ATTR
  std::vector<std::string> values;  // --values MARKER KEY DELIMS
  std::string batchFile;
  bool keepGoing = false;
  bool json = false;
  bool simulator = false;
  bool verbose = false;
  bool shell = false;
  bool help = false;
  long connectTimeoutMs = -1;
  long replyTimeoutMs = -1;
  std::vector<std::string> commands;
};

// Parses argv; false with a message in `error` for a usage error.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

// The usage text.
const char* usageText();

#endif  // ZUBDM_TOOLS_ZUBDM_OPTIONS_H
