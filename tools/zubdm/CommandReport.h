#ifndef ZUBDM_TOOLS_ZUBDM_COMMANDREPORT_H
#define ZUBDM_TOOLS_ZUBDM_COMMANDREPORT_H

#include <string>
#include <vector>

#include <zubdm/zubdm.h>

// What one command produced, as the zubdm command reports it.
struct CommandReport {
  std::string command;
  std::string mode;
  std::string state;       // as read through getState()
  std::string output;      // the device output, as received
  std::string prompt;      // the prompt that ended the reply
  long durationMs = 0;
  bool failed = false;
  std::string errorKind;   // failureKindName() of the failure
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

CommandReport makeReport(const CommandContext& context, ZUB_DEVICE_MEDIATION::CLIResult& result);

// An explanation of a command's failure for a person, from its record.
std::string failureText(const ZUB_DEVICE_MEDIATION::FailureRecord& failure);

#endif  // ZUBDM_TOOLS_ZUBDM_COMMANDREPORT_H
