#include "CommandReport.h"

using ZUB_DEVICE_MEDIATION::FailureKind;
using ZUB_DEVICE_MEDIATION::FailureRecord;
using ZUB_DEVICE_MEDIATION::FailureStep;

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

}  // namespace

std::string failureText(const FailureRecord& failure) {
  const std::string ms = std::to_string(failure.limit) + " ms (--reply-timeout)";
  switch (failure.kind) {
    case FailureKind::DeviceError:
      return failure.text.empty() ? "the device reported an error" : oneLine(failure.text);
    case FailureKind::ModeCommandFailed:
      return "the mode command was rejected: " + oneLine(failure.text);
    case FailureKind::Refused:
      return "refused before sending: a line break or NUL in the command";
    case FailureKind::NotConnected:
      return "not connected to the CLI";
    case FailureKind::NotSent:
      if (failure.step == FailureStep::Read) {
        return "not sent: the reply to an earlier command still had not ended after " + ms;
      }
      return "not sent: an earlier failure left the connection unusable";
    case FailureKind::TimedOut:
      if (failure.step == FailureStep::Write) {
        return "the command could not be sent within " + std::to_string(failure.limit) +
               " ms: the CLI did not read it (--reply-timeout)";
      }
      return "no complete reply within " + ms;
    case FailureKind::CliGone:
      return "the CLI ended without a complete reply; " + describeFailure(failure);
    case FailureKind::ReplyTooLarge:
      return "the reply passed the size cap of " + std::to_string(failure.limit) + " bytes";
    case FailureKind::OutOfMemory:
      return "the reply could not be held in memory";
    case FailureKind::Cancelled:
      return "cancelled by an interrupt";
    default:
      return oneLine(describeFailure(failure));
  }
}

CommandReport makeReport(const CommandContext& context, ZUB_DEVICE_MEDIATION::CLIResult& result) {
  CommandReport report;
  report.command = context.command;
  report.mode = context.mode;
  report.durationMs = context.durationMs;
  report.state = result.getState().toString();
  report.output = &result.getMessageList();
  report.prompt = result.getPrompt();
  report.failed = !result.getState().equals(OpStatusEnum::Success);
  if (report.failed) {
    report.errorKind = ZUB_DEVICE_MEDIATION::failureKindName(result.getFailureKind());
    report.errorText = failureText(result.getFailure());
  }
  // The failures that come before the command's own line is written.
  for (FailureKind kind : {FailureKind::Refused, FailureKind::NotConnected,
                           FailureKind::ModeCommandFailed, FailureKind::NotSent}) {
    report.sent = report.sent && result.getFailureKind() != kind;
  }
  return report;
}
