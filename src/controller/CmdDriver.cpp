#include "controller/CmdDriver.h"

#include <string>
#include <utility>

#include "common/CliLogHelper.h"
#include "common/QOR_error.h"
#include "fifo/SigpipeShield.h"
#include "result/OpStatusEnum.h"

namespace ZUB_DEVICE_MEDIATION {

namespace {
const char kLogFile[] = "CmdDriver";
const char kFunction[] = "sendCliCommand";
}  // namespace

CmdDriver::CmdDriver(ZUBAdaptor& mediator, ZUBContextBuilder& contexts)
    : adaptor(mediator), contextBuilder(contexts) {}

bool CmdDriver::sendCliCommand(const std::string& contextCmd,
                               const std::string& cliCmd, CLIResult& result,
                               unsigned long number) {
  // One SIGPIPE shield for every line of the command.
  zubdm::internal::SigpipeShield shield;
  CLIResponse response;
  if (!resetToRoot(response, result)) return false;
  if (!contextCmd.empty() && !enterContext(contextCmd, response, result)) {
    return false;
  }
  return runCommand(cliCmd, response, result, number);
}

bool CmdDriver::sendCliCommand(const std::vector<std::string>& contextCmds,
                               const std::string& cliCmd, CLIResult& result,
                               unsigned long number) {
  zubdm::internal::SigpipeShield shield;
  CLIResponse response;
  if (!resetToRoot(response, result)) return false;
  auto first = contextCmds.rbegin();
  if (first != contextCmds.rend() && *first == ZUBContextBuilder::END_CLI) ++first;
  for (auto command = first; command != contextCmds.rend(); ++command) {
    if (!enterContext(*command, response, result)) return false;
  }
  return runCommand(cliCmd, response, result, number);
}

bool CmdDriver::resetToRoot(CLIResponse& response, CLIResult& result) {
  result.setState(OpStatusEnum::PartialSuccess);
  if (!adaptor.isLoggedIn()) {
    CliLogHelper(3, kLogFile, kFunction, __LINE__)
        .message("failed to send cli command due to no established connection with device : ");
    // Recorded as an error too, so that getState() reports the failure.
    result.addError("no established connection with device");
    result.setState(OpStatusEnum::Failed);
    result.setFailureKind(FailureKind::NotConnected);
    return false;
  }
  // Leaves any configuration mode; its outcome does not stop the command.
  adaptor.setDeviceRootContext(response);
  return true;
}

bool CmdDriver::enterContext(const std::string& contextCmd,
                             CLIResponse& response, CLIResult& result) {
  CliLogHelper(5, kLogFile, kFunction, __LINE__)
      .message("CLI Context Cmd: " + contextCmd);
  if (!adaptor.send(contextCmd, response)) {
    CliLogHelper(3, kLogFile, kFunction, __LINE__)
        .message("failed to set context: " + contextCmd);
    result.addError("failed to set context: " + contextCmd);
    result.setState(OpStatusEnum::Failed);
    result.setFailureKind(adaptor.getLastFailure());
    return false;
  }
  // An error in the reply to the context command does not stop the command.
  return true;
}

bool CmdDriver::runCommand(const std::string& cliCmd, CLIResponse& response,
                           CLIResult& result, unsigned long number) {
  // Plain decimal digits whatever the host's global locale (a stream would
  // group them as "1,234" under some), built in one allocation.
  std::string line = std::to_string(number);
  line.reserve(line.size() + 1 + cliCmd.size());
  line += ' ';
  line += cliCmd;
  // Nothing of the root reset's or the context's replies reaches the result.
  response.clearAll();
  if (!adaptor.send(line, response)) {
    result.addError((response.isTimeout() ? "timed out waiting for the reply to: "
                                          : "no reply from device to: ") +
                    line);
    result.setState(OpStatusEnum::Failed);
    result.setFailureKind(adaptor.getLastFailure());
    return false;
  }
  result.setPrompt(response.getRspContext());
  if (!response.getError().empty()) {
    result.addError(" Device error: " + response.getError() +
                    ", Current device context: " + response.getRspContext() +
                    ", CLI command: " + line + "  ");
    result.setState(OpStatusEnum::Failed);
    result.setFailureKind(FailureKind::DeviceError);
    return false;
  }
  if (response.isRspListEmpty()) return true;
  // The response is dropped after this, so its output is moved into the
  // message list, not copied; a single piece (the usual case) is parsed
  // where it lies instead of being copied into the reader first.
  std::vector<std::string> output = response.takeResponseList();
  QOR_error parseError;
  if (output.size() == 1) {
    result.getXMLResult().parse_cli(output.front(), parseError);
  } else {
    result.addXMLResult(output);
    result.getXMLResult().parse_cli(parseError);
  }
  result.appendMessageList(std::move(output));
  if (parseError.is_set()) {
    result.setState(OpStatusEnum::Failed);
    return false;
  }
  return true;
}

}  // namespace ZUB_DEVICE_MEDIATION
