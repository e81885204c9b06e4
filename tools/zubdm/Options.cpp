#include "Options.h"

#include <cstdlib>

namespace {

// Takes `count` arguments following argv[i] into `out`.
bool takeArguments(int argc, char** argv, int& i, int count,
                   std::vector<std::string>& out) {
  if (i + count >= argc) return false;
  for (int k = 1; k <= count; ++k) out.push_back(argv[i + k]);
  i += count;
  return true;
}

bool takeOne(int argc, char** argv, int& i, std::string& out) {
  std::vector<std::string> one;
  if (!takeArguments(argc, argv, i, 1, one)) return false;
  out = one[0];
  return true;
}

bool takeMilliseconds(int argc, char** argv, int& i, long& out) {
  std::string text;
  if (!takeOne(argc, argv, i, text)) return false;
  char* end = nullptr;
  out = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && out > 0;
}

}  // namespace

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  bool commandsOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool ok = true;
    if (commandsOnly || arg.empty() || arg[0] != '-') {
      if (!commandsOnly && options.commands.empty() && arg == "shell") {
        options.shell = true;
      } else {
        options.commands.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      commandsOnly = true;
    } else if (arg == "-c" || arg == "--context") {
      ok = takeOne(argc, argv, i, options.contextCommand);
    } else if (arg == "-m" || arg == "--mode") {
      ok = takeOne(argc, argv, i, options.mode);
    } else if (arg == "-a" || arg == "--arg") {
      ok = takeOne(argc, argv, i, options.modeArgument);
    } else if (arg == "-p" || arg == "--prefix") {
      ok = takeOne(argc, argv, i, options.modePrefix);
    } else if (arg == "--find") {
      ok = takeArguments(argc, argv, i, 3, options.find);
    } else if (arg == "--values") {
      ok = takeArguments(argc, argv, i, 3, options.values);
    } else if (arg == "--batch") {
      ok = takeOne(argc, argv, i, options.batchFile);
    } else if (arg == "--connect-timeout") {
      ok = takeMilliseconds(argc, argv, i, options.connectTimeoutMs);
    } else if (arg == "--reply-timeout") {
      ok = takeMilliseconds(argc, argv, i, options.replyTimeoutMs);
    } else if (arg == "--keep-going") {
      options.keepGoing = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--simulator") {
      options.simulator = true;
    } else if (arg == "-v" || arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else {
      error = "unknown option " + arg;
      return false;
    }
    if (!ok) {
      error = "option " + arg + " is missing its argument(s) or has a bad one";
      return false;
    }
  }
  if (options.help) return true;
  if (!options.contextCommand.empty() && !options.mode.empty()) {
    error = "-c and -m exclude each other";
    return false;
  }
  if (options.mode.empty() && (!options.modeArgument.empty() || !options.modePrefix.empty())) {
    error = "-a and -p go with -m";
    return false;
  }
  const int sources = !options.commands.empty() + !options.batchFile.empty() + options.shell;
  if (sources != 1) {
    error = sources == 0 ? "no command given"
                         : "give commands, --batch FILE or shell, only one of them";
    return false;
  }
  return true;
}

const char* usageText() {
  return "usage: zubdm [OPTIONS] COMMAND...\n"
         "       zubdm [OPTIONS] --batch FILE\n"
         "       zubdm [OPTIONS] shell\n"
         "\n"
         "Runs commands on the element's CLI through the zubdm library and prints\n"
         "their results.\n"
         "\n"
         "  -c, --context CMD        context command sent before each command\n"
         "  -m, --mode MODE          run the commands in MODE (root, config, config-if,\n"
         "                           config-controller)\n"
         "  -a, --arg ARG            argument of the mode's entry command (config-if: the\n"
         "                           interface)\n"
         "  -p, --prefix PREFIX      prefix for the entry commands that accept one\n"
         "      --find OBJ ITEM ATTR print one value of the last command's show output\n"
         "      --values MARKER KEY DELIMS\n"
         "                           print the values extracted from the last command's\n"
         "                           output\n"
         "      --json               print each result as one line of JSON\n"
         "      --batch FILE         run one command per line ('#' comments and blank\n"
         "                           lines skipped); stop at the first failure\n"
         "      --keep-going         with --batch: go on after a failure\n"
         "      --simulator          use the bundled CLI simulator instead of the\n"
         "                           element's cli\n"
         "      --connect-timeout MS bound on each pipe open and login prompt\n"
         "      --reply-timeout MS   bound on each reply\n"
         "  -v, --verbose            write the library's log messages to standard error\n"
         "  -h, --help               show this text\n"
         "\n"
         "Exit status: 0 when every command succeeded, 1 when a command failed, 2 for\n"
         "a usage error or when the connection to the CLI could not be brought up.\n";
}
