#ifndef ZUBDM_CONTROLLER_CMDDRIVER_H
#define ZUBDM_CONTROLLER_CMDDRIVER_H

#include <zubdm/ZubdmExport.h>

#include <string>
#include <vector>

#include <zubdm/context/ZUBContextBuilder.h>
#include <zubdm/mediator/ZUBAdaptor.h>
#include <zubdm/result/CLIResult.h>

namespace ZUB_DEVICE_MEDIATION {

// Runs one forwarded command from start to end: refuses text that holds a
// line break or NUL, checks that the mediator is logged in, resets the CLI
// to its root mode ("end"), enters the command's mode, sends the numbered
// command line and turns the reply into the caller's result (stored state,
// failure kind, ending prompt, output as messages and XML, one error entry
// for each failure). A mode command that fails, whose reply carries an
// error, or that leaves the CLI at the prompt it found while printing
// something (a refusal without "Error:"), stops the command there: nothing
// runs in the wrong mode.
//
// Holds no state between calls and owns neither the mediator nor the context
// table. Called with the controller's dispatch mutex held; not thread-safe.
class ZUBDM_EXPORT CmdDriver {
 public:
  CmdDriver(ZUBAdaptor& adaptor, ZUBContextBuilder& contextBuilder);
  ~CmdDriver() = default;
  CmdDriver(const CmdDriver&) = delete;
  CmdDriver& operator=(const CmdDriver&) = delete;

  // Sends `contextCmd` (unless empty) after the root reset, then
  // "<number> <cliCmd>". True when the command was sent, its reply carried
  // no error and its output (if any) parsed; the outcome is in `result`.
  bool sendCliCommand(const std::string& contextCmd, const std::string& cliCmd,
                      CLIResult& result, unsigned long number);

  // The same for a mode that takes several steps to enter: `contextCmds` as
  // ZUBContextBuilder::getContextCLI lists them (the mode's own command
  // first, "end" last). They are sent in order of use, last to first,
  // leaving out the trailing "end" that the root reset has already sent.
  bool sendCliCommand(const std::vector<std::string>& contextCmds,
                      const std::string& cliCmd, CLIResult& result,
                      unsigned long number);

 private:
  // The whole command, with its mode commands in the order they are sent.
  bool run(const std::vector<std::string>& modeCommands, const std::string& cliCmd,
           CLIResult& result, unsigned long number);
  bool resetToRoot(CLIResponse& response, CLIResult& result);
  bool enterMode(const std::string& command, CLIResponse& response,
                 CLIResult& result);
  bool runCommand(const std::string& line, CLIResponse& response, CLIResult& result);
  // Moves the output into the result and parses its show document.
  bool takeOutput(CLIResponse& response, CLIResult& result);

  ZUBAdaptor& adaptor;
  // Kept for the host's use of the driver; commands arrive with their
  // context commands ready-made, so the driver itself does not consult it.
  [[maybe_unused]] ZUBContextBuilder& contextBuilder;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_CONTROLLER_CMDDRIVER_H
