#ifndef ZUBDM_TOOLS_CLI_SIM_OPTIONS_H
#define ZUBDM_TOOLS_CLI_SIM_OPTIONS_H

#include <string>

// Settings of one simulator run. The library starts the program as
// "cli -n INDEX" only, so everything but the slot index comes from the
// environment: ZUBDM_CLI_PIPE_DIR, ZUBDM_CLI_SCENARIO, ZUBDM_CLI_TRANSCRIPT,
// ZUBDM_CLI_STRICT.
class Options {
 public:
  // Reads the command line and the environment. Returns false with a message
  // in `error` on bad usage.
  bool parse(int argc, char** argv, std::string& error);

  // <dir>clPipeW<INDEX>: the pipe the simulator reads its input from.
  std::string inputPipe() const;
  // <dir>clPipeR<INDEX>: the pipe the simulator writes its replies to.
  std::string outputPipe() const;

  static const char* usage();

  int index = -1;
  bool help = false;
  std::string pipeDir = "/tmp/";  // always ends in "/"
  std::string scenarioPath;       // empty: built-in behaviour only
  std::string transcriptPath;     // empty: unset in the environment
  bool strict = false;            // ZUBDM_CLI_STRICT=1
};

#endif  // ZUBDM_TOOLS_CLI_SIM_OPTIONS_H
