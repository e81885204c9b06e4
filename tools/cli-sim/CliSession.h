#ifndef ZUBDM_TOOLS_CLI_SIM_CLISESSION_H
#define ZUBDM_TOOLS_CLI_SIM_CLISESSION_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "InterfaceState.h"
#include "Mode.h"
#include "Scenario.h"

class PipeIo;
class Transcript;

// One login session of the simulated CLI over already opened pipes: the
// login dialogue, then one reply per input line, each ending in the prompt
// of the current mode. Holds the mode and the simulated device state;
// borrows the scenario, the pipes and the transcript. Single-threaded.
class CliSession {
 public:
  CliSession(const Scenario& scenario, PipeIo& io, Transcript& transcript);

  // Serves until the input ends, the reader goes away or a scenario fault
  // stops it. Returns the exit status: 0 for a clean end, 1 for an injected
  // fault or a failed write other than a vanished reader.
  int run();

 private:
  // Each returns false when the session is over; exitStatus_ is then set.
  bool login();
  bool serve(const std::string& received);
  bool cannedReply(const ReplySpec& spec);
  bool builtinReply(const std::string& command);
  bool showReply(const std::vector<std::string>& words,
                 const std::string& command);
  bool writePrompt();
  bool putRepeated(const std::string& bytes, std::uint64_t limit);
  bool writeFailed();

  bool configCommand(const std::vector<std::string>& words);
  bool interfaceCommand(const std::vector<std::string>& words,
                        const std::string& command);
  bool invalid(const std::string& command);
  // An error line: "Error: <message>", or "% <message>" with percent_errors.
  bool error(const std::string& message);
  // "?" typed: what was typed before it is echoed (with terminal_echo), help
  // for it printed and the prompt redrawn with it. `typed` becomes the line
  // without its "?"s, `tail` the part after the last one, still to echo.
  bool answerHelp(std::string& typed, std::string& tail);
  std::string helpFor(const std::string& typed) const;
  bool interfaceBrief();

  const Scenario& scenario_;
  PipeIo& io_;
  Transcript& transcript_;
  Mode mode_ = Mode::kRoot;
  std::map<std::string, InterfaceState> interfaces_;
  std::string currentInterface_;
  std::string hostname_ = "element";
  int exitStatus_ = 0;
  // The scenario's next exchange.
  std::size_t nextExchange_ = 0;
};

#endif  // ZUBDM_TOOLS_CLI_SIM_CLISESSION_H
