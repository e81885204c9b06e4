#include "Options.h"

#include <getopt.h>

#include <cstring>

namespace {

const long kMaxMilliseconds = 24L * 60 * 60 * 1000;

// An option and what it sets: a flag, a text, a list (each value appended;
// the three of --find and --values replace it), or, with none of them, -a
// or a time-out.
struct Spec {
  const char* name;
  char letter;  // the short name, or 0
  int values;   // 0, 1 or 3
  bool Options::*flag;
  std::string Options::*text;
  std::vector<std::string> Options::*list;
};

const Spec kSpecs[] = {
    {"keep-going", 0, 0, &Options::keepGoing, nullptr, nullptr},
    {"json", 0, 0, &Options::json, nullptr, nullptr},
    {"raw", 0, 0, &Options::raw, nullptr, nullptr},
    {"dry-run", 0, 0, &Options::dryRun, nullptr, nullptr},
    {"yes", 0, 0, &Options::yes, nullptr, nullptr},
    {"simulator", 0, 0, &Options::simulator, nullptr, nullptr},
    {"strict", 0, 0, &Options::strict, nullptr, nullptr},
    {"free-stale", 0, 0, &Options::freeStale, nullptr, nullptr},
    {"verbose", 'v', 0, &Options::verbose, nullptr, nullptr},
    {"help", 'h', 0, &Options::help, nullptr, nullptr},
    {"version", 0, 0, &Options::version, nullptr, nullptr},
    {"context", 'c', 1, nullptr, &Options::contextCommand, nullptr},
    {"mode", 'm', 1, nullptr, &Options::mode, nullptr},
    {"prefix", 'p', 1, nullptr, &Options::modePrefix, nullptr},
    {"batch", 0, 1, nullptr, &Options::batchFile, nullptr},
    {"log", 0, 1, nullptr, &Options::logFile, nullptr},
    {"record", 0, 1, nullptr, &Options::recordFile, nullptr},
    {"scenario", 0, 1, nullptr, &Options::scenarioFile, nullptr},
    {"mask", 0, 1, nullptr, nullptr, &Options::masks},
    {"error-prefix", 0, 1, nullptr, nullptr, &Options::errorPrefixes},
    {"find", 0, 3, nullptr, nullptr, &Options::find},
    {"values", 0, 3, nullptr, nullptr, &Options::values},
    {"arg", 'a', 1, nullptr, nullptr, nullptr},
    {"connect-timeout", 0, 1, nullptr, nullptr, nullptr},
    {"reply-timeout", 0, 1, nullptr, nullptr, nullptr},
};
const size_t kSpecCount = sizeof kSpecs / sizeof kSpecs[0];

// getopt_long's key for spec `i`: its letter, or a number above any letter.
int keyOf(size_t i) { return kSpecs[i].letter != 0 ? kSpecs[i].letter : 256 + static_cast<int>(i); }

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

// Stores spec's value (optarg) and, for three values, the two arguments
// after it; false with `error`.
bool store(const Spec& spec, int argc, char** argv, Options& options, std::string& error) {
  const std::string name = std::string("--") + spec.name;
  if (spec.flag != nullptr) options.*spec.flag = true;
  if (spec.text != nullptr) options.*spec.text = optarg;
  if (spec.values == 3 && optind + 2 > argc) {
    error = name + " is missing its argument(s)";
    return false;
  }
  if (spec.values == 3) {
    (options.*spec.list).assign({optarg, argv[optind], argv[optind + 1]});
    optind += 2;
  } else if (spec.list != nullptr) {
    (options.*spec.list).push_back(optarg);
  }
  if (spec.letter == 'a') options.modeArgument = std::string(optarg);
  if (std::strstr(spec.name, "timeout") != nullptr) {
    long& out = spec.name[0] == 'c' ? options.connectTimeoutMs : options.replyTimeoutMs;
    if (!parseMilliseconds(optarg, out)) {
      error = millisecondsError(name, optarg);
      return false;
    }
  }
  return true;
}

// The message for what getopt_long refused (`key` '?' or ':').
std::string refusal(int key, char** argv) {
  const std::string given = argv[optind - 1];
  const bool longName = given.compare(0, 2, "--") == 0;
  const std::string name = longName ? given.substr(0, given.find('='))
                                    : std::string("-") + static_cast<char>(optopt);
  if (key == '?') return longName && optopt != 0 ? name + " takes no value" : "unknown option " + name;
  return name.find("timeout") != std::string::npos ? millisecondsError(name, nullptr)
                                                   : name + " is missing its argument(s)";
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
  // "-": plain arguments come back in order (as key 1), so that "shell"
  // and "slots" are told from commands by their place; ":": a missing value
  // is told from an unknown option, and getopt_long prints nothing.
  std::string letters = "-:";
  std::vector<option> longOptions;
  for (size_t i = 0; i < kSpecCount; ++i) {
    longOptions.push_back({kSpecs[i].name, kSpecs[i].values ? required_argument : no_argument,
                           nullptr, keyOf(i)});
    if (kSpecs[i].letter != 0) letters += std::string(1, kSpecs[i].letter) + (kSpecs[i].values ? ":" : "");
  }
  longOptions.push_back({});
  for (int key; (key = getopt_long(argc, argv, letters.c_str(), longOptions.data(), nullptr)) != -1;) {
    if (key == 1) {
      takeWord(optarg, false, options);
      continue;
    }
    if (key == '?' || key == ':') {
      error = refusal(key, argv);
      return false;
    }
    size_t i = 0;
    while (keyOf(i) != key) ++i;
    if (!store(kSpecs[i], argc, argv, options, error)) return false;
  }
  // After "--", every argument is a command.
  for (int i = optind; i < argc; ++i) takeWord(argv[i], true, options);
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
         "after them; the first failed command ends the run. An option's value\n"
         "may also follow it as --option=VALUE.\n"
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
         "      --json               print one line of JSON per command, and per mode\n"
         "                           line refused or line held back, each with its\n"
         "                           'line' (in the batch, or among the commands) and\n"
         "                           'sent'; output that is not UTF-8 has its lines\n"
         "                           as Latin-1 characters, one per byte, and\n"
         "                           \"output_encoding\": \"latin1\"\n"
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
         "      --strict             with --scenario: a command that the recording does\n"
         "                           not hold fails instead of getting the simulator's\n"
         "                           own answer\n"
         "      --error-prefix TEXT  a reply line starting with TEXT is a device error,\n"
         "                           as one starting with 'Error:' is (repeatable)\n"
         "      --connect-timeout MS bound on each pipe open and login prompt\n"
         "      --reply-timeout MS   bound on each reply (both 1 to 86400000)\n"
         "  -v, --verbose            write what is sent and received to standard error\n"
         "  -h, --help               show this text\n"
         "      --version            show the version and the library's SONAME\n"
         "\n"
         "Exit status: 0 when every command succeeded, 1 when a command failed, 2 for\n"
         "a usage error, a connection that could not be brought up, or output that\n"
         "could not be written; 128+N when ended by signal N (130 for Ctrl-C).\n";
}
