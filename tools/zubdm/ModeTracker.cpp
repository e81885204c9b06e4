#include "ModeTracker.h"

#include <algorithm>

#include "OptionChecks.h"
#include "Words.h"

namespace {

bool isOneWord(const std::string& text) {
  const std::vector<std::string> w = words(text);
  std::string ignored;
  return w.size() == 1 && w[0] == text && checkText("", text, ignored);
}

}  // namespace

std::string ModeTracker::argumentError(const std::string& mode,
                                       const std::optional<std::string>& argument) const {
  if (!table_.takesArgument(mode)) return "mode " + mode + " takes no argument (-a)";
  // The mode's own entry command names what the argument is.
  std::vector<std::string> commands;
  table_.getContextCLI(commands, mode, "", "");
  const std::string what = commands.empty() ? "mode" : commands.front();
  if (!argument) return "mode " + mode + " needs -a with the " + what + "'s name";
  return "mode " + mode + " needs one " + what + " name without blanks or control bytes, not '" +
         *argument + "'";
}

ModeTracker::ModeTracker(const ZUB_DEVICE_MEDIATION::ZUBContextBuilder& table) : table_(table) {}

bool ModeTracker::enter(const std::string& mode, const std::optional<std::string>& argument,
                        const std::string& prefix, std::string& error) {
  std::vector<std::string> commands;
  if (table_.getContextCLI(commands, mode, argument.value_or(""), prefix) == 0) {
    error = "unknown mode '" + mode + "'; known modes:";
    for (const std::string& known : table_.knownContexts()) error += " " + known;
    return false;
  }
  if (table_.takesArgument(mode) != argument.has_value() ||
      (argument && !isOneWord(*argument))) {
    error = argumentError(mode, argument);
    return false;
  }
  mode_ = mode;
  refused_.clear();
  contextCommands_ = commands;
  contextCommand_.clear();
  label_ = argument ? mode + " " + *argument : mode;
  return true;
}

void ModeTracker::useContextCommand(const std::string& command) {
  mode_ = command.empty() ? "root" : "context";
  contextCommands_.clear();
  contextCommand_ = command;
  label_ = command.empty() ? "root" : command;
}

ModeTracker::Line ModeTracker::follow(const std::string& line, std::string& error) {
  std::string target;
  std::string argument;
  const bool modeLine = table_.modeEnteredBy(line, mode_, target, argument);
  // A command, or "exit" (which leads up from the mode the refused line
  // meant, unknown here), after a refused mode line.
  if (!refused_.empty() && (!modeLine || words(line)[0] == "exit")) {
    error = std::string(modeLine ? "not followed" : "not sent") +
            ": it follows the refused mode line '" + refused_ + "'";
    return Line::kHeldBack;
  }
  // Under -c the mode is not known: a line that is a mode command in any
  // mode is one here too.
  const std::vector<std::string> modes = table_.knownContexts();
  if (!contextCommand_.empty() &&
      std::any_of(modes.begin(), modes.end(), [&](const std::string& mode) {
        return table_.modeEnteredBy(line, mode, target, argument);
      })) {
    refused_ = line;
    error = "a mode line does not follow -c (a context command of its own); give the mode "
            "with -m MODE (-a NAME) instead";
    return Line::kRefused;
  }
  if (!modeLine) return Line::kCommand;
  const std::optional<std::string> named =
      table_.takesArgument(target) ? std::optional<std::string>(argument) : std::nullopt;
  if (!enter(target, named, "", error)) {
    refused_ = line;
    return Line::kRefused;
  }
  return Line::kModeCommand;
}

std::vector<std::string> ModeTracker::lines() const {
  std::vector<std::string> out = {ZUB_DEVICE_MEDIATION::ZUBContextBuilder::END_CLI};
  if (!contextCommand_.empty()) out.push_back(contextCommand_);
  for (const std::string& command : ZUB_DEVICE_MEDIATION::ZUBContextBuilder::inOrderOfUse(contextCommands_)) {
    out.push_back(command);
  }
  return out;
}
