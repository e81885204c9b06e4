#include "ModeTracker.h"

#include "OptionChecks.h"
#include "Words.h"

namespace {

// The element's commands that enter a mode with one name, and those modes.
struct NamedMode {
  const char* command;
  const char* mode;
};
const NamedMode kNamedModes[] = {{"interface", "config-if"},
                                 {"controller", "config-controller"}};

const NamedMode* namedModeOf(const std::string& modeOrCommand) {
  for (const NamedMode& named : kNamedModes) {
    if (modeOrCommand == named.mode || modeOrCommand == named.command) return &named;
  }
  return nullptr;
}

bool isOneWord(const std::string& text) {
  const std::vector<std::string> w = words(text);
  std::string ignored;
  return w.size() == 1 && w[0] == text && checkText("", text, ignored);
}

std::string argumentError(const std::string& mode, const std::optional<std::string>& argument) {
  const NamedMode* named = namedModeOf(mode);
  if (named == nullptr) return "mode " + mode + " takes no argument (-a)";
  const std::string what = named->command;
  if (!argument) return "mode " + mode + " needs -a with the " + what + "'s name";
  return "mode " + mode + " needs one " + what + " name without blanks or control bytes, not '" +
         *argument + "'";
}

// The mode that a mode command without a name leads to from `mode`; empty
// when `w` is no such command.
std::string modeCommandTarget(const std::vector<std::string>& w, const std::string& mode) {
  if (w.size() == 2 && w[0] == "configure" && w[1] == "terminal") return "config";
  if (w.size() != 1) return std::string();
  if (w[0] == "config" || w[0] == "c") return "config";
  if (w[0] == "end") return "root";
  if (w[0] == "exit") return mode.rfind("config-", 0) == 0 ? "config" : "root";
  return std::string();
}

}  // namespace

ModeTracker::ModeTracker(const ZUB_DEVICE_MEDIATION::ZUBContextBuilder& table) : table_(table) {}

bool ModeTracker::enter(const std::string& mode, const std::optional<std::string>& argument,
                        const std::string& prefix, std::string& error) {
  std::vector<std::string> commands;
  if (table_.getContextCLI(commands, mode, argument.value_or(""), prefix) == 0) {
    error = "unknown mode '" + mode + "'; known modes:";
    for (const std::string& known : table_.knownContexts()) error += " " + known;
    return false;
  }
  const bool needsArgument = namedModeOf(mode) != nullptr;
  if (needsArgument != argument.has_value() || (argument && !isOneWord(*argument))) {
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
  const std::vector<std::string> w = words(line);
  std::optional<std::string> argument;
  std::string target = modeCommandTarget(w, mode_);
  const NamedMode* named = w.empty() ? nullptr : namedModeOf(w[0]);
  if (target.empty() && named != nullptr && w[0] == named->command && mode_ != "root" &&
      mode_ != "context") {
    target = named->mode;
    // The name as typed, without the blanks around it.
    const size_t start = line.find_first_not_of(" \t", line.find(w[0]) + w[0].size());
    argument = start == std::string::npos
                   ? ""
                   : line.substr(start, line.find_last_not_of(" \t") + 1 - start);
  }
  // A command, or "exit" (which leads up from the mode the refused line
  // meant, unknown here), after a refused mode line.
  if (!refused_.empty() && (target.empty() || w[0] == "exit")) {
    error = std::string(target.empty() ? "not sent" : "not followed") +
            ": it follows the refused mode line '" + refused_ + "'";
    return Line::kRefused;
  }
  if (target.empty()) return Line::kCommand;
  if (!enter(target, argument, "", error)) {
    refused_ = line;
    return Line::kRefused;
  }
  return Line::kModeCommand;
}

std::vector<std::string> ModeTracker::lines() const {
  std::vector<std::string> out = {ZUB_DEVICE_MEDIATION::ZUBContextBuilder::END_CLI};
  if (!contextCommand_.empty()) out.push_back(contextCommand_);
  for (auto command = contextCommands_.rbegin(); command != contextCommands_.rend(); ++command) {
    if (*command != ZUB_DEVICE_MEDIATION::ZUBContextBuilder::END_CLI) out.push_back(*command);
  }
  return out;
}
