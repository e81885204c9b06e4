#include "Options.h"

#include <cstring>

namespace {

const long kMaxMilliseconds = 24L * 60 * 60 * 1000;

struct FlagOption {
  const char* shortName;
  const char* longName;
  bool Options::*member;
};

const FlagOption kFlags[] = {
    {nullptr, "--keep-going", &Options::keepGoing},
    {nullptr, "--json", &Options::json},
    {nullptr, "--raw", &Options::raw},
    {nullptr, "--dry-run", &Options::dryRun},
    {nullptr, "--yes", &Options::yes},
    {nullptr, "--simulator", &Options::simulator},
    {nullptr, "--free-stale", &Options::freeStale},
    {"-v", "--verbose", &Options::verbose},
    {"-h", "--help", &Options::help},
};

struct TextOption {
  const char* shortName;
  const char* longName;
  std::string Options::*member;
};

const TextOption kTexts[] = {
    {"-c", "--context", &Options::contextCommand},
    {"-m", "--mode", &Options::mode},
    {"-p", "--prefix", &Options::modePrefix},
    {nullptr, "--batch", &Options::batchFile},
    {nullptr, "--log", &Options::logFile},
    {nullptr, "--record", &Options::recordFile},
    {nullptr, "--scenario", &Options::scenarioFile},
};

bool named(const std::string& arg, const char* shortName, const char* longName) {
  return (shortName != nullptr && arg == shortName) || arg == longName;
}

// Whole milliseconds from 1 ms to 24 h; digits only, so that neither a sign
// nor an overflow can slip through.
bool parseMilliseconds(const std::string& text, long& out) {
  if (text.empty() || text.size() > 9) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxMilliseconds) return false;
  out = value;
  return true;
}

std::string millisecondsError(const std::string& option, const char* given) {
  return option + ": " + (given ? "'" + std::string(given) + "' is not" : "needs") +
         " a whole number of milliseconds from 1 to " + std::to_string(kMaxMilliseconds) +
         " (24 h)";
}

// How many arguments the option `arg` takes (0: not such an option).
int argumentCount(const std::string& arg) {
  for (const TextOption& option : kTexts) {
    if (named(arg, option.shortName, option.longName)) return 1;
  }
  if (arg == "-a" || arg == "--arg" || arg == "--mask" || arg == "--connect-timeout" ||
      arg == "--reply-timeout") {
    return 1;
  }
  return arg == "--find" || arg == "--values" ? 3 : 0;
}

// Stores the option `arg` with its arguments `given`; false with `error`.
bool store(const std::string& arg, char** given, Options& options, std::string& error) {
  for (const TextOption& option : kTexts) {
    if (named(arg, option.shortName, option.longName)) options.*option.member = given[0];
  }
  if (arg == "-a" || arg == "--arg") options.modeArgument = std::string(given[0]);
  if (arg == "--mask") options.masks.push_back(given[0]);
  if (arg == "--find" || arg == "--values") {
    (arg == "--find" ? options.find : options.values).assign(given, given + 3);
  }
  if (arg == "--connect-timeout" || arg == "--reply-timeout") {
    long& out = arg == "--connect-timeout" ? options.connectTimeoutMs : options.replyTimeoutMs;
    if (!parseMilliseconds(given[0], out)) {
      error = millisecondsError(arg, given[0]);
      return false;
    }
  }
  return true;
}

// Parses the option at argv[i] that takes arguments, advancing i past them.
bool parseWithArguments(int argc, char** argv, int& i, Options& options, std::string& error) {
  const std::string arg = argv[i];
  const int count = argumentCount(arg);
  if (count == 0) {
    error = "unknown option " + arg;
    return false;
  }
  if (argc - i - 1 < count) {
    error = arg == "--connect-timeout" || arg == "--reply-timeout"
                ? millisecondsError(arg, nullptr)
                : arg + " is missing its argument(s)";
    return false;
  }
  const bool stored = store(arg, argv + i + 1, options, error);
  i += count;
  return stored;
}

bool parseFlag(const std::string& arg, Options& options) {
  for (const FlagOption& flag : kFlags) {
    if (named(arg, flag.shortName, flag.longName)) {
      options.*flag.member = true;
      return true;
    }
  }
  return false;
}

// A plain argument: a command, or the first word "shell" or "slots".
void takeWord(const std::string& arg, bool commandsOnly, Options& options) {
  const bool first = !commandsOnly && options.commands.empty() && !options.shell && !options.slots;
  if (first && arg == "shell") {
    options.shell = true;
  } else if (first && arg == "slots") {
    options.slots = true;
  } else {
    options.commands.push_back(arg);
  }
}

}  // namespace

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  bool commandsOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (commandsOnly || arg.empty() || arg[0] != '-' || arg == "-") {
      takeWord(arg, commandsOnly, options);
    } else if (arg == "--") {
      commandsOnly = true;
    } else if (!parseFlag(arg, options) &&
               !parseWithArguments(argc, argv, i, options, error)) {
      return false;
    }
  }
  return true;
}

const char* usageText() {
  return "usage: zubdm [OPTIONS] COMMAND...\n"
         "       zubdm [OPTIONS] --batch FILE|-\n"
         "       zubdm [OPTIONS] shell\n"
         "       zubdm slots [--free-stale]\n"
         "\n"
         "Runs commands on the element's CLI through the zubdm library and prints\n"
         "their results. Mode commands typed as on the element (configure terminal,\n"
         "interface NAME, controller NAME, exit, end) set the mode of the commands\n"
         "after them; the first failed command ends the run.\n"
         "\n"
         "  -c, --context CMD        context command sent before each command\n"
         "  -m, --mode MODE          start in MODE (root, config, config-if,\n"
         "                           config-controller)\n"
         "  -a, --arg NAME           the mode's one argument (config-if: the interface,\n"
         "                           config-controller: the controller); required by\n"
         "                           those modes, refused by the others\n"
         "  -p, --prefix PREFIX      put PREFIX before the mode commands that take one:\n"
         "                           -p no -m config-if -a A sends 'no interface A'\n"
         "                           (which deletes it); needs --yes to send\n"
         "      --yes                send the mode commands that -p changed\n"
         "      --dry-run            print the lines that would be written, connect to\n"
         "                           nothing\n"
         "      --find OBJ ITEM ATTR print one value of the last command's show output\n"
         "      --values MARKER KEY DELIMS\n"
         "                           print each value of KEY (up to one of DELIMS) in\n"
         "                           the <...> pieces of the last output holding MARKER\n"
         "      --json               print each result as one line of JSON\n"
         "      --raw                print only the device output, as received\n"
         "                           (show output from its <SHOW)\n"
         "      --batch FILE         run the lines of FILE ('-': standard input; '#'\n"
         "                           comments and blank lines skipped)\n"
         "      --keep-going         go on after a failed command\n"
         "      --log FILE           append every line sent and every byte received,\n"
         "                           timestamped, to FILE\n"
         "      --mask REGEX         show what REGEX (a POSIX extended expression, as\n"
         "                           grep -E) matches as **** in the log, on standard\n"
         "                           error and in recordings (repeatable)\n"
         "      --record FILE        write the session as a simulator scenario\n"
         "      --simulator          use the bundled CLI simulator instead of the\n"
         "                           element's cli\n"
         "      --scenario FILE      with --simulator: the simulator's scenario\n"
         "      --connect-timeout MS bound on each pipe open and login prompt\n"
         "      --reply-timeout MS   bound on each reply (both 1 to 86400000)\n"
         "  -v, --verbose            write what is sent and received to standard error\n"
         "  -h, --help               show this text\n"
         "\n"
         "Exit status: 0 when every command succeeded, 1 when a command failed, 2 for\n"
         "a usage error, a connection that could not be brought up, or output that\n"
         "could not be written; 128+N when ended by signal N (130 for Ctrl-C).\n";
}
