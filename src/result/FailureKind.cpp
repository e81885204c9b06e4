#include "result/FailureKind.h"

namespace ZUB_DEVICE_MEDIATION {

const char* failureKindName(FailureKind kind) {
  // In the order of the enumeration.
  static const char* const kNames[] = {
      "none",     "device_error", "refused",         "not_connected", "mode_command_failed",
      "timed_out", "cli_gone",    "reply_too_large", "out_of_memory", "cancelled",
      "not_sent", "out_of_step"};
  const auto index = static_cast<unsigned>(kind);
  return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "unknown";
}

}  // namespace ZUB_DEVICE_MEDIATION
