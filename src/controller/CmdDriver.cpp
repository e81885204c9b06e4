#include <zubdm/controller/CmdDriver.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>

#include <zubdm/common/CliLogHelper.h>
#include <zubdm/common/CliDialect.h>
#include <zubdm/common/LineText.h>
#include <zubdm/common/QOR_error.h>
#include <zubdm/common/TextSearch.h>
#include <zubdm/result/OpStatusEnum.h>
#include <zubdm/result/ShowParser.h>

namespace ZUB_DEVICE_MEDIATION {

namespace {

namespace dialect = zubdm::internal::dialect;

const char kLogFile[] = "CmdDriver";
const char kFunction[] = "sendCliCommand";

// Fails the command with the error entry `error`; `failure` travels with it.
void fail(CLIResult& result, const FailureRecord& failure, const std::string& error) {
  result.addError(error);
  result.setState(OpStatusEnum::Failed);
  result.setFailure(failure);
}

// A failure the CLI's own words explain.
FailureRecord said(FailureKind kind, const std::string& text) {
  FailureRecord failure;
  failure.kind = kind;
  failure.text = text;
  return failure;
}

// A line break or NUL would end the line early and run what follows as a
// command of its own, shifting every later reply by one: such text is
// refused (logged, one error entry) before anything is written.
bool acceptLine(const char* what, const std::string& text, CLIResult& result) {
  if (dialect::isOneLine(text)) return true;
  const std::string error = std::string("refused: the ") + what +
                            " holds a line break or NUL: " + zubdm::internal::quoted(text);
  CliLogHelper(3, kLogFile, kFunction, __LINE__).message(error);
  fail(result, said(FailureKind::Refused, error), error);
  return false;
}

// `text` without the blanks and line ends around it.
std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::string_view();
  return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

// What the CLI printed in reply to a command (its echo is not part of it),
// trimmed.
std::string outputOf(const CLIResponse& response) {
  std::string all;
  for (const std::string& piece : response.getResponseList()) all += piece;
  return std::string(trimmed(all));
}

// The failure of a mode command's exchange: a reply out of step means that
// the command's own line is never written.
FailureRecord modeFailure(const FailureRecord& failure) {
  if (failure.kind != FailureKind::OutOfStep) return failure;
  FailureRecord withheld = failure;
  withheld.kind = FailureKind::NotSent;
  withheld.cause = FailureKind::OutOfStep;
  withheld.text = "the command was not sent: " + failure.text;
  return withheld;
}

}  // namespace

CmdDriver::CmdDriver(ZUBAdaptor& mediator, ZUBContextBuilder& contexts)
    : adaptor(mediator), contextBuilder(contexts) {}

bool CmdDriver::sendCliCommand(const std::string& contextCmd,
                               const std::string& cliCmd, CLIResult& result,
                               unsigned long number) {
  std::vector<std::string> modeCommands;
  if (!contextCmd.empty()) modeCommands.push_back(contextCmd);
  return run(modeCommands, cliCmd, result, number);
}

bool CmdDriver::sendCliCommand(const std::vector<std::string>& contextCmds,
                               const std::string& cliCmd, CLIResult& result,
                               unsigned long number) {
  return run(ZUBContextBuilder::inOrderOfUse(contextCmds), cliCmd, result, number);
}

bool CmdDriver::run(const std::vector<std::string>& modeCommands,
                    const std::string& cliCmd, CLIResult& result,
                    unsigned long number) {
  result.setState(OpStatusEnum::PartialSuccess);
  result.setFailureKind(FailureKind::None);
  result.setPrompt(std::string());
  // Plain decimal digits whatever the host's global locale (a stream would
  // group them as "1,234" under some).
  const std::string line = std::to_string(number) + ' ' + cliCmd;
  for (const std::string& command : modeCommands) {
    if (!acceptLine("mode command", command, result)) return false;
  }
  if (!acceptLine("command", cliCmd, result)) return false;
  // The mediator's lock for all the command's exchanges.
  ZUBAdaptor::CommandLock lock(adaptor);
  CLIResponse response;
  if (!resetToRoot(response, result)) return false;
  for (const std::string& command : modeCommands) {
    if (!enterMode(command, response, result)) return false;
  }
  return runCommand(line, response, result);
}

bool CmdDriver::resetToRoot(CLIResponse& response, CLIResult& result) {
  if (!adaptor.isLoggedIn()) {
    CliLogHelper(3, kLogFile, kFunction, __LINE__)
        .message("failed to send cli command due to no established connection with device : ");
    fail(result, said(FailureKind::NotConnected, ""), "no established connection with device");
    return false;
  }
  adaptor.setDeviceRootContext(response);
  // The reset worked exactly when the CLI is back at its root prompt.
  if (response.getRspContext() == dialect::kRootPrompt) return true;
  const std::string prefix = std::string("mode command \"") + dialect::kRootCommand + "\" failed: ";
  if (response.getRspContext().empty()) {
    const FailureRecord failure = modeFailure(adaptor.getFailureRecord());
    fail(result, failure, prefix + describeFailure(failure));
  } else {
    const std::string why = "its reply ended at \"" + response.getRspContext() +
                            "\", not at the root prompt \"" +
                            std::string(dialect::kRootPrompt) + "\"";
    fail(result, said(FailureKind::ModeCommandFailed, why), prefix + why);
  }
  return false;
}

bool CmdDriver::enterMode(const std::string& command, CLIResponse& response,
                          CLIResult& result) {
  CliLogHelper(5, kLogFile, kFunction, __LINE__).message("CLI Context Cmd: " + command);
  // The prompt before it: the reset's, or the mode command's before this one.
  const std::string before = response.getRspContext();
  response.clearAll();
  const std::string prefix = "mode command \"" + command + "\" failed: ";
  if (!adaptor.send(command, response)) {
    CliLogHelper(3, kLogFile, kFunction, __LINE__)
        .message("failed to set context: " + command);
    const FailureRecord failure = modeFailure(adaptor.getFailureRecord());
    fail(result, failure, prefix + describeFailure(failure));
    return false;
  }
  if (!response.getError().empty()) {
    // The CLI stayed in the mode before: the command must not run there.
    CliLogHelper(3, kLogFile, kFunction, __LINE__)
        .message("failed to set context: " + command);
    fail(result, said(FailureKind::ModeCommandFailed, response.getError()),
         prefix + response.getError());
    return false;
  }
  // Refused without an "Error:" line ("% Unknown interface Z"): the prompt,
  // which names the mode, is the one before, and the CLI said something. A
  // silent one changed no mode on purpose ("end", "no interface A").
  if (response.getRspContext() != before) return true;
  const std::string printed = outputOf(response);
  if (printed.empty()) return true;
  CliLogHelper(3, kLogFile, kFunction, __LINE__).message("failed to set context: " + command);
  const std::string why = "the CLI stayed at \"" + before + "\": " + printed;
  fail(result, said(FailureKind::ModeCommandFailed, why), prefix + why);
  return false;
}

bool CmdDriver::runCommand(const std::string& line, CLIResponse& response,
                           CLIResult& result) {
  // Nothing of the root reset's or the mode commands' replies reaches the
  // result.
  response.clearAll();
  if (!adaptor.send(line, response)) {
    const FailureRecord failure = adaptor.getFailureRecord();
    fail(result, failure, describeFailure(failure) + " (command: " + line + ")");
    return false;
  }
  result.setPrompt(response.getRspContext());
  if (!response.getError().empty()) {
    fail(result, said(FailureKind::DeviceError, response.getError()),
         " Device error: " + response.getError() + ", Current device context: " +
             response.getRspContext() + ", CLI command: " + line + "  ");
    return false;
  }
  if (response.isRspListEmpty()) return true;
  try {
    return takeOutput(response, result);
  } catch (const std::bad_alloc&) {
    // The reply was read whole: only this command fails.
    fail(result, said(FailureKind::OutOfMemory, ""),
         "the reply to: " + line + " could not be held in memory");
    return false;
  }
}

bool CmdDriver::takeOutput(CLIResponse& response, CLIResult& result) {
  // The response is dropped after this, so its output is moved into the
  // message list, not copied; a single piece (the usual case) is parsed
  // where it lies.
  std::vector<std::string> output = response.takeResponseList();
  bool document = false;
  for (const std::string& piece : output) {
    document = document || dialect::showStart(piece) != std::string::npos;
  }
  QOR_error parseError;
  // A document parsed as the reply arrived is taken as it is.
  // It borrowed its values from the output, which it reads once the output
  // is in the message list.
  zubdm::internal::ShowParser* parsed = adaptor.parsedDocument();
  if (parsed != nullptr && output.size() == 1) {
    result.appendMessageList(std::move(output));
    result.adoptDocument(*parsed, parseError);
  } else {
    if (output.size() == 1) {
      result.getXMLResult().parse_cli(output.front(), parseError);
    } else {
      result.addXMLResult(output);
      result.getXMLResult().parse_cli(parseError);
    }
    result.appendMessageList(std::move(output));
  }
  if (!parseError.is_set()) return true;
  result.setState(OpStatusEnum::Failed);
  // Plain text is not a document and fails to parse as one; a show
  // document that does not parse (malformed, or cut short) is a failure
  // the host must see.
  if (document) {
    std::string why;
    for (const error_entry& entry : parseError.entries) {
      why = "broken show document: " + entry.text;
      result.addError(why);
    }
    result.setFailure(said(FailureKind::DeviceError, why));
  }
  return false;
}

}  // namespace ZUB_DEVICE_MEDIATION
