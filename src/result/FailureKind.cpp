#include "result/FailureKind.h"

namespace ZUB_DEVICE_MEDIATION {

const char* failureKindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::None:
      return "none";
    case FailureKind::DeviceError:
      return "device_error";
    case FailureKind::Refused:
      return "refused";
    case FailureKind::NotConnected:
      return "not_connected";
    case FailureKind::ModeCommandFailed:
      return "mode_command_failed";
    case FailureKind::TimedOut:
      return "timed_out";
    case FailureKind::CliGone:
      return "cli_gone";
    case FailureKind::ReplyTooLarge:
      return "reply_too_large";
    case FailureKind::OutOfMemory:
      return "out_of_memory";
    case FailureKind::Cancelled:
      return "cancelled";
  }
  return "unknown";
}

}  // namespace ZUB_DEVICE_MEDIATION
