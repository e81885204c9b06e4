#include "CommandReport.h"

using ZUB_DEVICE_MEDIATION::FailureKind;

namespace {

std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  const size_t start = out.find_first_not_of(' ');
  const size_t end = out.find_last_not_of(' ');
  return start == std::string::npos ? std::string() : out.substr(start, end - start + 1);
}

// The device's own words from the driver's composed error entry.
std::string deviceError(const std::vector<std::string>& errors) {
  if (errors.empty()) return "the device reported an error";
  const std::string text = oneLine(errors.front());
  const size_t start = text.find("Error:");
  const size_t end = text.find(", Current device context:");
  if (start == std::string::npos) return text;
  return oneLine(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

std::string causes(const std::vector<std::string>& logged) {
  std::string out;
  for (const std::string& line : logged) {
    const std::string text = oneLine(line);
    if (text.rfind("cause", 0) == 0 || text.rfind("Cause", 0) == 0) out += "; " + text;
  }
  return out;
}

}  // namespace

std::string failureText(FailureKind kind, const CommandContext& context,
                        const std::vector<std::string>& errors) {
  // The library's entry tells a command that was not sent because an
  // earlier one left the connection unusable.
  if (!errors.empty() &&
      errors.front().find("not sent: the mediator refuses") != std::string::npos) {
    return "not sent: an earlier failure left the connection unusable";
  }
  switch (kind) {
    case FailureKind::DeviceError:
      return deviceError(errors);
    case FailureKind::ModeCommandFailed:
      return "the mode command was rejected: " + deviceError(errors);
    case FailureKind::Refused:
      return "refused before sending: a line break or NUL in the command";
    case FailureKind::NotConnected:
      return "not connected to the CLI";
    case FailureKind::TimedOut:
      // The library's entry tells a line the CLI did not read from a reply
      // that did not come.
      if (!errors.empty() && errors.front().rfind("timed out sending", 0) == 0) {
        return "the command could not be sent within " +
               std::to_string(context.replyTimeoutMs) +
               " ms: the CLI did not read it (--reply-timeout)";
      }
      if (!errors.empty() && errors.front().find("earlier command's reply") != std::string::npos) {
        return "not sent: the reply to an earlier command still had not ended after " +
               std::to_string(context.replyTimeoutMs) + " ms (--reply-timeout)";
      }
      return "no complete reply within " + std::to_string(context.replyTimeoutMs) +
             " ms (--reply-timeout)";
    case FailureKind::CliGone:
      return "the CLI ended without a complete reply" + causes(context.logged);
    case FailureKind::ReplyTooLarge:
      return "the reply passed the size cap of " + std::to_string(context.maxReplySize) +
             " bytes";
    case FailureKind::OutOfMemory:
      return "the reply could not be held in memory";
    case FailureKind::Cancelled:
      return "cancelled by an interrupt";
    case FailureKind::NotSent:
    case FailureKind::OutOfStep:
    case FailureKind::None:
      break;
  }
  return errors.empty() ? "failed" : oneLine(errors.front());
}

CommandReport makeReport(const CommandContext& context, ZUB_DEVICE_MEDIATION::CLIResult& result) {
  CommandReport report;
  report.command = context.command;
  report.mode = context.mode;
  report.durationMs = context.durationMs;
  report.state = result.getState().toString();
  for (const std::string& piece : result.getMessageList()) report.output += piece;
  report.prompt = result.getPrompt();
  report.failed = !result.getState().equals(OpStatusEnum::Success);
  if (report.failed) {
    report.errorKind = ZUB_DEVICE_MEDIATION::failureKindName(result.getFailureKind());
    report.errorText = failureText(result.getFailureKind(), context, result.getErrorList());
  }
  return report;
}
