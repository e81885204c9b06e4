#ifndef ZUBDM_TOOLS_ZUBDM_COMMANDREPORT_H
#define ZUBDM_TOOLS_ZUBDM_COMMANDREPORT_H

#include <list>
#include <string>
#include <vector>

#include <zubdm/zubdm.h>

// What one line produced, as the zubdm command reports it: a command's
// result, or a line that zubdm itself did not send.
struct CommandReport {
  size_t line = 0;         // its line number in the batch, or its position
                           // among the command arguments; 0 in the shell
  std::string command;
  std::string mode;
  std::string state;       // as read through getState()
  // The device output, the result's own pieces (not a copy); null for a
  // line that zubdm did not send.
  const std::list<std::string>* output = nullptr;
  std::string prompt;      // the prompt that ended the reply
  long durationMs = 0;
  bool sent = true;        // false: the line was never written to the CLI
  bool failed = false;
  std::string errorKind;   // failureKindName() of the failure, or for a line
                           // zubdm held back "refused" or "not_sent"
  std::string errorText;   // for a person: the device's error, or what went wrong
  // --find: whether the value was found, and the value.
  bool findAsked = false;
  bool found = false;
  std::string foundValue;
  // --values
  bool valuesAsked = false;
  std::vector<std::string> values;
};

// What the report needs besides the result.
struct CommandContext {
  std::string command;
  std::string mode;
  long durationMs = 0;
};

// Borrows the result's output: the report lives no longer than the result.
CommandReport makeReport(const CommandContext& context, ZUB_DEVICE_MEDIATION::CLIResult& result);

// An explanation of a command's failure for a person, from its record.
std::string failureText(const ZUB_DEVICE_MEDIATION::FailureRecord& failure);

#endif  // ZUBDM_TOOLS_ZUBDM_COMMANDREPORT_H
