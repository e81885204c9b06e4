#include "Shell.h"

#include <editline/readline.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ExitStatus.h"
#include "OptionChecks.h"
#include "Interrupts.h"
#include "VisibleText.h"
#include "Words.h"

namespace {

const int kCliSettleSteps = 40;
const int kCliSettleStepMs = 5;

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
    "  :quit                  leave (also end of input)\n"
    "  Ctrl-C                 abandon the line, or cancel the command waited for\n";

// The line editor's reads: they end when a signal comes, so that readline()
// returns at once, whenever the signal came.
int readKey(FILE*) {
  unsigned char key = 0;
  while (Interrupts::waitReadable(STDIN_FILENO)) {
    const ssize_t n = read(STDIN_FILENO, &key, 1);
    if (n == 1) return key;
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) return EOF;
  }
  return EOF;
}

std::string historyFile() {
  const char* home = std::getenv("HOME");
  return home ? std::string(home) + "/.zubdm_history" : std::string();
}

void printLookup(bool found, const std::vector<std::string>& values) {
  for (const std::string& value : values) std::printf("%s\n", visibleText(value).c_str());
  if (!found) std::printf("(nothing found)\n");
}

}  // namespace

int Shell::run() {
  // Before the editor is set up, which reading the history does: its own
  // handlers would send a Ctrl-C on to the whole process group (the CLI
  // included); the command's handlers do the work.
  rl_catch_signals = 0;
  rl_getc_function = readKey;
  const std::string history = historyFile();
  if (!history.empty()) read_history(history.c_str());
  std::printf("zubdm shell: commands run on the element CLI; :help for help\n");
  bool going = true;
  while (going && !printer_.failed()) {
    Interrupts::arm(false);
    if (Interrupts::pending() == SIGINT) Interrupts::take();
    const std::string prompt = "zubdm(" + mode_.label() + ")> ";
    Interrupts::hold(true);
    char* input = readline(prompt.c_str());
    Interrupts::hold(false);
    if (input == nullptr && Interrupts::pending() == SIGINT) {
      std::printf("\n");  // the line is abandoned
      awaitCliAfterInterrupt();
      continue;
    }
    if (input == nullptr) break;
    const std::string line = input;
    std::free(input);
    going = handleLine(line);
  }
  if (!history.empty()) write_history(history.c_str());
  if (printer_.failed()) return kExitUsage;
  return failed_ ? kExitFailed : kExitSuccess;
}

// The CLI runs in this process group, so a Ctrl-C typed on the terminal
// reaches it too; one that ends on it is given a moment to do so, and the
// next command then connects again instead of finding it half gone.
void Shell::awaitCliAfterInterrupt() {
  for (int i = 0; i < kCliSettleSteps && session_.usable(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kCliSettleStepMs));
  }
}

bool Shell::handleLine(const std::string& line) {
  if (line.find_first_not_of(" \t") == std::string::npos) return true;
  add_history(line.c_str());
  if (line == ":quit" || line == ":q") return false;
  if (line[0] == ':') {
    helper(line);
    return true;
  }
  std::string error;
  switch (mode_.follow(line, error)) {
    case ModeTracker::Line::kModeCommand:
      return true;
    case ModeTracker::Line::kRefused:
    case ModeTracker::Line::kHeldBack:
      refuse(line + ": " + error);
      return true;
    case ModeTracker::Line::kCommand:
      break;
  }
  if (!checkText("the line", line, error)) {
    refuse(error);
    return true;
  }
  return runCommand(line);
}

void Shell::refuse(const std::string& text) {
  masks_.warn(text);
  failed_ = true;
}

bool Shell::runCommand(const std::string& line) {
  if (!session_.usable() && !reconnect("the CLI connection had ended")) return true;
  Interrupts::arm(true);
  session_.run(line, mode_, masks_.apply(line));
  Interrupts::arm(false);
  const int signal = Interrupts::pending();
  if (signal != 0 && signal != SIGINT) return false;
  if (signal == SIGINT) {
    Interrupts::take();
    refuse("cancelled");
    reconnect("the command was cancelled");
    return true;
  }
  const CommandReport report = session_.lastReport();
  failed_ = failed_ || report.failed;
  printer_.print(report);
  return true;
}

// A cancel left over from a signal that came as the command ended may end
// the first wait of the connect: then it is tried once more.
bool Shell::reconnect(const char* why) {
  masks_.warn(std::string(why) + "; connecting again");
  recorder_.stop();
  std::vector<std::string> reasons;
  const bool up = session_.open(reasons) || session_.open(reasons);
  for (const std::string& reason : reasons) masks_.warn(reason);
  failed_ = failed_ || !up;
  if (up) recorder_.start();
  return up;
}

void Shell::helper(const std::string& line) {
  const std::vector<std::string> w = words(line);
  ZUB_DEVICE_MEDIATION::CLIResult* last = session_.last();
  std::string error;
  std::vector<std::string> values;
  if (w[0] == ":help") {
    std::fputs(kHelp, stdout);
  } else if (w[0] == ":json") {
    const bool json = printer_.format() != ResultPrinter::Format::kJson;
    printer_.setFormat(json ? ResultPrinter::Format::kJson : ResultPrinter::Format::kText);
    std::printf("JSON output %s\n", json ? "on" : "off");
  } else if (w[0] == ":mode" && (w.size() == 2 || w.size() == 3)) {
    const std::optional<std::string> argument =
        w.size() == 3 ? std::optional<std::string>(w[2]) : std::nullopt;
    if (!mode_.enter(w[1], argument, "", error)) refuse(error);
  } else if (w[0] == ":find" && w.size() == 4) {
    std::string value;
    const bool found =
        last && last->getXMLResult().find_value(w[1].c_str(), w[2].c_str(), w[3].c_str(), value);
    printLookup(found, found ? std::vector<std::string>{value} : values);
  } else if (w[0] == ":values" && w.size() == 4) {
    if (last) last->getXMLValues(values, w[1], w[2], w[3]);
    printLookup(!values.empty(), values);
  } else {
    std::fprintf(stderr, "zubdm: unknown or incomplete helper; :help lists them\n");
  }
}
