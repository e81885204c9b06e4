#ifndef ZUBDM_RESULT_FAILUREKIND_H
#define ZUBDM_RESULT_FAILUREKIND_H

#include "ZubdmExport.h"

namespace ZUB_DEVICE_MEDIATION {

// Why a forwarded command (or one exchange with the CLI) failed.
enum class FailureKind {
  None,               // it did not fail
  DeviceError,        // the CLI reported an error, or printed a broken show document
  Refused,            // refused before anything was sent (a line break or NUL in it)
  NotConnected,       // no logged-in connection to the CLI
  ModeCommandFailed,  // the CLI rejected the command that enters the mode
  TimedOut,           // no (complete) answer within the time-out
  CliGone,            // the CLI ended or closed its pipes
  ReplyTooLarge,      // the reply passed the size cap
  OutOfMemory,        // the reply could not be held
  Cancelled,          // cancel() ended the wait, or disconnect/restart did
  NotSent,            // the line was withheld: an earlier reply never ended, or
                      // the mediator refuses commands until it is restarted
  OutOfStep,          // the reply did not begin with the echo of its own line
};

// A stable name for `kind`: "none", "device_error", "refused",
// "not_connected", "mode_command_failed", "timed_out", "cli_gone",
// "reply_too_large", "out_of_memory", "cancelled", "not_sent",
// "out_of_step".
ZUBDM_EXPORT const char* failureKindName(FailureKind kind);

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_RESULT_FAILUREKIND_H
