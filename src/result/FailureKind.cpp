#include <zubdm/result/FailureKind.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>

#include <zubdm/common/LineText.h>

namespace ZUB_DEVICE_MEDIATION {

namespace {

std::string errorText(int error) { return std::strerror(error); }

std::string octal(std::uint32_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// "exited with status 3", "was killed by signal 9", or "ended" when the
// host took its status.
std::string howItEnded(const FailureRecord& failure) {
  const int status = failure.exitStatus;
  if (status < 0) return "ended";
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  return "was killed by signal " + std::to_string(WTERMSIG(status));
}

std::string tableProblem(const FailureRecord& failure) {
  std::string out = "CLI user table " + failure.path + ": " + failure.text;
  if (failure.error != 0) out += ": " + errorText(failure.error);
  if (failure.fileMode != 0) {
    out += " (owner uid " + std::to_string(failure.fileOwner) + ", mode " +
           octal(failure.fileMode) + ")";
  }
  return out;
}

std::string pathProblem(const FailureRecord& failure) {
  if (failure.fileMode == 0) return failure.path + ": " + errorText(failure.error);
  const mode_t mode = failure.fileMode;
  const char* type = S_ISFIFO(mode)  ? "a pipe"
                     : S_ISLNK(mode) ? "a symbolic link"
                     : S_ISREG(mode) ? "a file"
                                     : "not a pipe";
  return failure.path + " is " + type + " owned by uid " + std::to_string(failure.fileOwner) +
         " with mode " + octal(mode) +
         ", not a pipe of this user closed to others; it is left alone (removing it frees "
         "the slot)";
}

std::string openProblem(const FailureRecord& failure) {
  switch (failure.kind) {
    case FailureKind::CliGone:
      return "the CLI " + howItEnded(failure) + " before opening " + failure.path;
    case FailureKind::TimedOut:
      return "the CLI did not open " + failure.path + " within " +
             std::to_string(failure.limit) + " ms";
    case FailureKind::Cancelled:
      return "cancelled while waiting for the CLI to open its pipe";
    default:
      return pathProblem(failure);
  }
}

std::string promptProblem(const FailureRecord& failure) {
  // The text waited for, or the prompt after the login.
  const std::string what = failure.path.empty() ? "the prompt" : "\"" + failure.path + "\"";
  std::string out;
  switch (failure.kind) {
    case FailureKind::TimedOut:
      out = "waited " + std::to_string(failure.limit) + " ms for " + what;
      break;
    case FailureKind::Cancelled:
      out = "cancelled while waiting for " + what;
      break;
    default:
      out = failure.ended
                ? "the CLI " + howItEnded(failure) + " while " + what + " was waited for"
                : "the CLI closed its output while " + what + " was waited for";
  }
  if (!failure.text.empty()) {
    out += "; the CLI's last output: " + zubdm::internal::quoted(failure.text);
  }
  return out;
}

// A failed exchange: what the host reads in the error entry.
std::string exchangeProblem(const FailureRecord& failure, FailureKind kind) {
  const FailureStep step = failure.step;
  const std::uint64_t limit = failure.limit;
  const bool writing = step == FailureStep::Write;
  switch (kind) {
    case FailureKind::TimedOut:
      return writing ? "timed out sending the line (the CLI did not read it)"
                     : "timed out waiting for the reply";
    case FailureKind::Cancelled:
      return writing ? "cancelled while sending the line" : "cancelled while waiting for the reply";
    case FailureKind::CliGone:
      return failure.ended && failure.exitStatus >= 0 ? "the CLI has gone: it " + howItEnded(failure)
                                                      : "the CLI has gone";
    case FailureKind::ReplyTooLarge:
      return "the reply exceeded the size cap of " + std::to_string(limit) + " bytes";
    case FailureKind::OutOfMemory:
      return "the reply could not be held in memory";
    default:
      return "no reply from device";
  }
}

}  // namespace

const char* failureKindName(FailureKind kind) {
  // In the order of the enumeration.
  static const char* const kNames[] = {
      "none",      "device_error", "refused",         "not_connected", "mode_command_failed",
      "timed_out", "cli_gone",     "reply_too_large", "out_of_memory", "cancelled",
      "not_sent",  "out_of_step"};
  const auto index = static_cast<unsigned>(kind);
  return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "unknown";
}

std::string describeFailure(const FailureRecord& failure) {
  switch (failure.step) {
    case FailureStep::Table:
    case FailureStep::Slot:
      return tableProblem(failure);
    case FailureStep::PipeCreate:
      return pathProblem(failure);
    case FailureStep::PipeOpen:
      return openProblem(failure);
    case FailureStep::Spawn:
      return failure.path +
             (failure.path.find('/') == std::string::npos ? " (along PATH)" : "") + ": " +
             errorText(failure.error);
    case FailureStep::LoginPrompt:
    case FailureStep::PasswordPrompt:
    case FailureStep::FirstPrompt:
      return promptProblem(failure);
    default:
      break;
  }
  switch (failure.kind) {
    case FailureKind::None:
      return std::string();
    case FailureKind::NotSent:
      // The reply to a line before it came out of step.
      if (failure.cause == FailureKind::OutOfStep) return failure.text;
      // Read: the rest of an earlier reply was waited for in vain.
      if (failure.step == FailureStep::Read) {
        return "not sent: " + exchangeProblem(failure, failure.cause) +
               " (the rest of an earlier command's reply)";
      }
      return "not sent: the mediator refuses commands until it is restarted, since " +
             (failure.text.empty() ? exchangeProblem(failure, failure.cause) : failure.text);
    case FailureKind::NotConnected:
      return failure.text.empty() ? "no established connection with device" : failure.text;
    case FailureKind::Refused:
    case FailureKind::DeviceError:
    case FailureKind::ModeCommandFailed:
    case FailureKind::OutOfStep:
      return failure.text;
    default:
      return exchangeProblem(failure, failure.kind);
  }
}

}  // namespace ZUB_DEVICE_MEDIATION
