#ifndef ZUBDM_RESULT_FAILUREKIND_H
#define ZUBDM_RESULT_FAILUREKIND_H

#include <zubdm/ZubdmExport.h>

#include <cstdint>
#include <string>

namespace ZUB_DEVICE_MEDIATION {

// Why a forwarded command (or one exchange with the CLI, or a connection)
// failed. New kinds are only ever appended.
enum class FailureKind {
  None,               // it did not fail
  DeviceError,        // the CLI reported an error, or printed a broken show document
  Refused,            // refused before anything was sent (a line break or NUL in it)
  NotConnected,       // no logged-in connection to the CLI
  ModeCommandFailed,  // the CLI rejected the command that enters the mode
  TimedOut,           // no (complete) answer within the time-out; a line written
                      // only in part counts here: it may have run
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

// The step of a connection or an exchange at which a failure happened.
enum class FailureStep {
  None,
  Table,           // opening, sizing or mapping the table of CLI users
  Slot,            // reserving a slot in it
  PipeCreate,      // making a pipe file
  PipeOpen,        // opening a pipe (the CLI opens its ends meanwhile)
  Spawn,           // starting the CLI program
  LoginPrompt,     // waiting for "Login:" or answering it
  PasswordPrompt,  // waiting for "Password:" or answering it
  FirstPrompt,     // waiting for the first prompt after the login
  Write,           // writing a line to the CLI
  Read,            // reading a reply
};

// What went wrong, where, and with what: made where a wait, read, write,
// spawn or open failed, and passed up unchanged. describeFailure() is the
// one place that turns it into words.
struct ZUBDM_EXPORT FailureRecord {
  FailureKind kind = FailureKind::None;
  FailureStep step = FailureStep::None;
  int error = 0;             // errno of the failed call; 0 when none
  std::string path;          // the table, pipe file or program concerned
  int pid = -1;              // the CLI's process id; -1 when none
  bool ended = false;        // the CLI is known to have ended
  int exitStatus = -1;       // its wait status; -1 when not known (a host took it)
  std::uint64_t limit = 0;   // the time-out that passed (ms), or the size cap (bytes)
  FailureKind cause = FailureKind::None;  // NotSent: what made the line be withheld
  std::string text;          // Table and Slot: what is wrong with it; the
                             // prompts: what the CLI wrote last instead
  std::uint32_t fileMode = 0;   // a refused path's st_mode; 0 when not looked at
  std::uint32_t fileOwner = 0;  // its owner's uid
  bool loginRefused = false;    // FirstPrompt: the CLI asked for "Login:" again

  explicit operator bool() const { return kind != FailureKind::None; }
};

// Why, in words for a person: "waited 200 ms for \"Login:\"", "the CLI
// exited with status 3 before opening /tmp/clPipeW0", "the reply exceeded
// the size cap of 1024 bytes", ... Empty for a record of no failure.
ZUBDM_EXPORT std::string describeFailure(const FailureRecord& failure);

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_RESULT_FAILUREKIND_H
