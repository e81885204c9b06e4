#ifndef ZUBDM_CONTROLLER_CMDDRIVER_H
#define ZUBDM_CONTROLLER_CMDDRIVER_H

#include "ZubdmExport.h"

#include <string>
#include <vector>

#include "context/ZUBContextBuilder.h"
#include "mediator/ZUBAdaptor.h"
#include "result/CLIResult.h"

namespace ZUB_DEVICE_MEDIATION {

// Runs one forwarded command from start to end: checks that the mediator is
// logged in, resets the CLI to its root mode ("end"), enters the command's
// mode, sends the numbered command line and turns the reply into the
// caller's result (stored state, output as messages and XML, one composed
// error entry for a device error).
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
  bool resetToRoot(CLIResponse& response, CLIResult& result);
  bool enterContext(const std::string& contextCmd, CLIResponse& response,
                    CLIResult& result);
  bool runCommand(const std::string& cliCmd, CLIResponse& response,
                  CLIResult& result, unsigned long number);

  ZUBAdaptor& adaptor;
  // Kept for the host's use of the driver; commands arrive with their
  // context commands ready-made, so the driver itself does not consult it.
  [[maybe_unused]] ZUBContextBuilder& contextBuilder;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_CONTROLLER_CMDDRIVER_H
