#include "Shell.h"

#include <editline/readline.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "ResultPrinter.h"

namespace {

struct ShellState {
  std::string mode = "root";
  std::string argument;
  bool json = false;
};

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  std::string word;
  while (in >> word) out.push_back(word);
  return out;
}

std::string rest(const std::string& line, const std::string& first) {
  const size_t start = line.find(first) + first.size();
  const size_t text = line.find_first_not_of(' ', start);
  return text == std::string::npos ? std::string() : line.substr(text);
}

const char* kHelp =
    "  COMMAND                run COMMAND in the current mode\n"
    "  configure terminal     enter config mode (also: config, c)\n"
    "  interface NAME         enter config-if for NAME (from config modes)\n"
    "  controller NAME        enter config-controller for NAME\n"
    "  exit / end             one mode up / back to the root mode\n"
    "  :mode NAME [ARG]       enter any known mode\n"
    "  :find OBJ ITEM ATTR    a value of the last show output\n"
    "  :values MARKER KEY DELIMS\n"
    "                         values extracted from the last output\n"
    "  :json                  switch JSON output on or off\n"
    "  :quit                  leave (also end of input)\n";

bool switchMode(Session& session, ShellState& state, const std::string& mode,
                const std::string& argument) {
  std::string error;
  if (!session.enterMode(mode, argument, "", error)) {
    std::fprintf(stderr, "zubdm: %s\n", error.c_str());
    return false;
  }
  state.mode = mode;
  state.argument = argument;
  return true;
}

// The mode an element mode command leads to from the shell's mode; false
// when `line` is no such command.
bool modeCommandTarget(const ShellState& state, const std::string& line,
                       std::string& mode, std::string& argument) {
  const std::vector<std::string> w = words(line);
  argument.clear();
  if (line == "end") {
    mode = "root";
  } else if (line == "configure terminal" || line == "config" || line == "c") {
    mode = "config";
  } else if (line == "exit") {
    mode = state.mode.rfind("config-", 0) == 0 ? "config" : "root";
  } else if (state.mode != "root" && w.size() >= 2 &&
             (w[0] == "interface" || w[0] == "controller")) {
    mode = w[0] == "interface" ? "config-if" : "config-controller";
    argument = rest(line, w[0]);
  } else {
    return false;
  }
  return true;
}

void handleHelper(Session& session, ShellState& state, const std::string& line) {
  const std::vector<std::string> w = words(line);
  ZUB_DEVICE_MEDIATION::CLIResult* last = session.last();
  if (w[0] == ":help") {
    std::fputs(kHelp, stdout);
  } else if (w[0] == ":json") {
    state.json = !state.json;
    std::printf("JSON output %s\n", state.json ? "on" : "off");
  } else if (w[0] == ":mode" && w.size() >= 2) {
    switchMode(session, state, w[1], w.size() > 2 ? rest(line, w[1]) : "");
  } else if (w[0] == ":find" && w.size() == 4) {
    std::string value;
    if (last && last->getXMLResult().find_value(w[1].c_str(), w[2].c_str(), w[3].c_str(), value)) {
      std::printf("%s\n", value.c_str());
    } else {
      std::printf("(nothing found)\n");
    }
  } else if (w[0] == ":values" && w.size() == 4) {
    std::vector<std::string> values;
    if (last) last->getXMLValues(values, w[1], w[2], w[3]);
    for (const std::string& value : values) std::printf("%s\n", value.c_str());
    if (values.empty()) std::printf("(nothing found)\n");
  } else {
    std::fprintf(stderr, "zubdm: unknown or incomplete helper; :help lists them\n");
  }
}

std::string historyFile() {
  const char* home = std::getenv("HOME");
  return home ? std::string(home) + "/.zubdm_history" : std::string();
}

}  // namespace

int runShell(Session& session, const Options& options) {
  ShellState state;
  state.json = options.json;
  if (!options.mode.empty()) {
    state.mode = options.mode;
    state.argument = options.modeArgument;
  }
  const std::string history = historyFile();
  if (!history.empty()) read_history(history.c_str());
  std::printf("zubdm shell: commands run on the element CLI; :help for help\n");
  for (;;) {
    const std::string prompt = "zubdm(" + session.modeLabel() + ")> ";
    char* input = readline(prompt.c_str());
    if (input == nullptr) break;
    const std::string line = input;
    std::free(input);
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    add_history(line.c_str());
    if (line == ":quit" || line == ":q") break;
    if (line[0] == ':') {
      handleHelper(session, state, line);
      continue;
    }
    std::string mode;
    std::string argument;
    if (modeCommandTarget(state, line, mode, argument)) {
      switchMode(session, state, mode, argument);
      continue;
    }
    session.run(line);
    const CommandReport report =
        makeReport(line, session.modeLabel(), *session.last(), session.lastStoredState());
    state.json ? printJson(report, stdout) : printText(report, stdout);
  }
  if (!history.empty()) write_history(history.c_str());
  return 0;
}
