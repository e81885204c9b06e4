#include <zubdm/context/ZUBContextBuilder.h>

#include <zubdm/common/CliDialect.h>
#include <zubdm/common/CliLogHelper.h>
#include <zubdm/common/LineText.h>

namespace ZUB_DEVICE_MEDIATION {

namespace {
// Key of the table entry that carries the CLI's prompt prefix; not a mode.
const char kPromptKey[] = "prompt";
}  // namespace

// Built, in this order, before any other static object of the library, which
// may therefore read them (or build a table) during its own initialisation.
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::CONFIG1 =
    "configure terminal";
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::CONFIG2 = "config";
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::CONFIG3 = "c";
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::SHOW = "show";
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::VIRTUAL_ROUTER =
    "virtual-router ";
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::VR_ROOT = "VR";
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::VR = "vr";
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::VR_CREATE =
    "vr-create";
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::END_CLI =
    zubdm::internal::dialect::kRootCommand;
[[gnu::init_priority(101)]] std::string ZUBContextBuilder::ROOT_CONTEXT =
    "root";

ZUBContextBuilder::ZUBContextBuilder() {
  Context prompt;
  prompt.pushPrompt(std::string(zubdm::internal::dialect::kPromptStart));
  contextTable_[kPromptKey] = prompt;
  contextTable_[ROOT_CONTEXT] =
      Context(ROOT_CONTEXT, ROOT_CONTEXT, END_CLI, true);
  contextTable_["config"] = Context("config", ROOT_CONTEXT, CONFIG1, true);
  contextTable_["config-if"] =
      Context("config-if", "config", "interface", false);
  contextTable_["config-controller"] =
      Context("config-controller", "config", "controller", true);
}

namespace {
// Appends `command`, behind `prefix` and one blank when the mode takes the
// prefix and one was given.
void appendCommand(std::vector<std::string>& out, const Context& context,
                   const std::string& command, const std::string& prefix) {
  if (!prefix.empty() && !context.isNoTx()) {
    out.push_back(prefix + " " + command);
  } else {
    out.push_back(command);
  }
}
}  // namespace

int ZUBContextBuilder::getContextCLI(std::vector<std::string>& out,
                                     const std::string& contextName,
                                     const std::string& argument,
                                     const std::string& prefix) const {
  if (contextName == ROOT_CONTEXT) return 1;
  // What goes into a mode command must not end its line early.
  for (const std::string* text : {&argument, &prefix}) {
    if (!zubdm::internal::dialect::isOneLine(*text)) {
      CliLogHelper(3, "ZUBContextBuilder", __func__, __LINE__)
          .message("context <" + contextName +
                   "> refused: its argument or prefix holds a line break or NUL: " +
                   zubdm::internal::quoted(*text));
      return 0;
    }
  }
  if (contextName.empty()) {
    out.push_back(END_CLI);
    return 1;
  }

  // The prompt entry is the table's, not a mode.
  auto entry = contextName == kPromptKey ? contextTable_.end() : contextTable_.find(contextName);
  if (entry == contextTable_.end()) {
    CliLogHelper(3, "ZUBContextBuilder", __func__, __LINE__)
        .message("context <" + contextName + "> not in table");
    return 0;
  }
  const Context* current = &entry->second;
  std::string command = current->getChangeContextCLI();
  if (!argument.empty()) command += " " + argument;
  appendCommand(out, *current, command, prefix);

  // Towards the root; the argument belongs to the requested mode only.
  for (;;) {
    const std::string next = current->getNextContext();
    if (next.empty()) return 1;
    entry = contextTable_.find(next);
    if (entry == contextTable_.end()) {
      CliLogHelper(3, "ZUBContextBuilder", __func__, __LINE__)
          .message("context <" + next + "> not in table");
      return 0;
    }
    current = &entry->second;
    appendCommand(out, *current, current->getChangeContextCLI(), prefix);
    if (current->getTopContext() == ROOT_CONTEXT) return 1;
  }
}

std::string ZUBContextBuilder::getRootContext() const { return ROOT_CONTEXT; }

std::string ZUBContextBuilder::getRootCLI() const { return END_CLI; }

namespace {

// `line` split at blanks and tabs.
std::vector<std::string> wordsOf(const std::string& line) {
  std::vector<std::string> words;
  for (size_t at = line.find_first_not_of(" \t"); at != std::string::npos;) {
    const size_t end = line.find_first_of(" \t", at);
    words.push_back(line.substr(at, end - at));
    at = line.find_first_not_of(" \t", end);
  }
  return words;
}

}  // namespace

bool ZUBContextBuilder::takesArgument(const std::string& contextName) const {
  const auto entry = contextTable_.find(contextName);
  return entry != contextTable_.end() && contextName != kPromptKey &&
         entry->second.getTopContext() != ROOT_CONTEXT &&
         entry->second.getNextContext() != ROOT_CONTEXT;
}

bool ZUBContextBuilder::modeEnteredBy(const std::string& line, const std::string& current,
                                      std::string& contextName, std::string& argument) const {
  const std::vector<std::string> words = wordsOf(line);
  argument.clear();
  if (words.empty()) return false;
  const auto here = contextTable_.find(current);
  const std::string& command = words[0];
  if ((words.size() == 2 && command + " " + words[1] == CONFIG1) ||
      (words.size() == 1 && (command == CONFIG2 || command == CONFIG3))) {
    contextName = "config";
  } else if (words.size() == 1 && command == END_CLI) {
    contextName = ROOT_CONTEXT;
  } else if (words.size() == 1 && command == "exit") {
    contextName = here == contextTable_.end() || current == kPromptKey
                      ? ROOT_CONTEXT
                      : here->second.getNextContext();
  } else {
    // A named mode, entered from the mode above it or from a sibling.
    const std::string above =
        takesArgument(current) ? here->second.getNextContext() : current;
    for (const auto& entry : contextTable_) {
      if (!takesArgument(entry.first) || entry.second.getChangeContextCLI() != command ||
          entry.second.getNextContext() != above) {
        continue;
      }
      contextName = entry.first;
      const size_t start = line.find_first_not_of(" \t", line.find(command) + command.size());
      argument = start == std::string::npos
                     ? std::string()
                     : line.substr(start, line.find_last_not_of(" \t") + 1 - start);
      return true;
    }
    return false;
  }
  return true;
}

std::vector<std::string> ZUBContextBuilder::inOrderOfUse(
    const std::vector<std::string>& contextCommands) {
  auto first = contextCommands.rbegin();
  if (first != contextCommands.rend() && *first == END_CLI) ++first;
  return std::vector<std::string>(first, contextCommands.rend());
}

std::vector<std::string> ZUBContextBuilder::knownContexts() const {
  std::vector<std::string> names;
  for (const auto& entry : contextTable_) {
    if (entry.first != kPromptKey) names.push_back(entry.first);
  }
  return names;
}

}  // namespace ZUB_DEVICE_MEDIATION
