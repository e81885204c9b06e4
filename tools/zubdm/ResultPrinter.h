#ifndef ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H
#define ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H

#include <cstdio>
#include <string>
#include <vector>

#include "zubdm.h"

// What one command produced, as the zubdm command reports it.
struct CommandReport {
  std::string command;
  std::string mode;
  std::string state;        // as read through getState()
  std::string storedState;  // as the driver stored it
  std::vector<std::string> messages;
  std::vector<std::string> errors;
  // --find: whether the value was found, and the value.
  bool findAsked = false;
  bool found = false;
  std::string foundValue;
  // --values
  bool valuesAsked = false;
  std::vector<std::string> values;
};

// Collects the report of the last command of `session`-like inputs.
CommandReport makeReport(const std::string& command, const std::string& mode,
                         ZUB_DEVICE_MEDIATION::CLIResult& result,
                         const std::string& storedState);

// Human-readable form: the output, errors, looked-up values and the state.
void printText(const CommandReport& report, std::FILE* out);
// One line of JSON.
void printJson(const CommandReport& report, std::FILE* out);

#endif  // ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H
