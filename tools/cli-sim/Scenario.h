#ifndef ZUBDM_TOOLS_CLI_SIM_SCENARIO_H
#define ZUBDM_TOOLS_CLI_SIM_SCENARIO_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Mode.h"

// Faults that act before or right after the login.
enum class StartFault {
  kNone,
  kExitAtOnce,
  kExitAtLogin,
  kNeverPrompt,
  kExitAfterLogin
};

// Faults that act while one command is answered.
enum class ReplyFault {
  kNone,
  kDieMidReply,
  kCloseOutput,
  kHang,
  kEndless,
  kExit,
  kStopReading
};

// A canned reply for one exact command text.
struct ReplySpec {
  std::string bytes;  // written `repeat` times
  std::uint64_t repeat = 1;
  bool raw = false;            // true: no prompt after the reply
  unsigned delayMs = 0;        // pause before replying
  std::size_t writeChunk = 0;  // >0: write in pieces of this size
  ReplyFault fault = ReplyFault::kNone;
  std::optional<Mode> thenMode;  // mode to switch to before the prompt
  std::string late;              // written a moment after the reply, unasked
};

// One expected command (after the number is dropped) and its reply: a
// recorded session played back in order.
struct Exchange {
  std::string command;
  ReplySpec reply;
};

// What a scenario file asks of the simulator. Everything defaults to the
// built-in behaviour, so an empty object is a valid scenario.
class Scenario {
 public:
  // Reads and checks the JSON file at `path`. Unknown keys and values of the
  // wrong type are rejected, so a typing mistake does not pass silently.
  // Returns false with a message in `error`; the scenario is then unchanged.
  bool load(const std::string& path, std::string& error);

  // The reply for `command` when it is the next exchange of the list
  // (`next` is then advanced past it), else its canned reply, or null when
  // the built-in one applies.
  const ReplySpec* find(const std::string& command, std::size_t& next) const;

  StartFault fault = StartFault::kNone;
  bool echo = false;
  // The ways of a real shell on a terminal, each off by default:
  // each line echoed unchanged as it is read ("terminal_echo"); input that
  // arrives while a reply is being written echoed there and then too
  // ("typed_ahead_echo"); "?" answered with help and a redrawn line whose
  // text stays typed ("help_key"); errors as "% ..." lines
  // ("percent_errors"); an interface whose name looks like a prompt, listed
  // by "show interface brief" ("prompt_like_names").
  bool terminalEcho = false;
  bool typedAheadEcho = false;
  bool helpKey = false;
  bool percentErrors = false;
  bool promptLikeNames = false;
  // Commands the scenario does not answer are errors (set from
  // ZUBDM_CLI_STRICT, not from the file).
  bool strict = false;
  std::string promptSuffix;
  unsigned loginDelayMs = 0;
  std::string transcriptPath;
  std::map<std::string, ReplySpec> commands;
  std::vector<Exchange> exchanges;
};

#endif  // ZUBDM_TOOLS_CLI_SIM_SCENARIO_H
