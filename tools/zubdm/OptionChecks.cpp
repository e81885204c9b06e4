#include "OptionChecks.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

namespace {

struct Exclusion {
  bool first;
  bool second;
  const char* message;
};

bool checkTexts(const Options& options, std::string& error) {
  for (const std::string& command : options.commands) {
    if (!checkText("command", command, error)) return false;
  }
  return checkText("-c", options.contextCommand, error) &&
         checkText("-a", options.modeArgument.value_or(""), error) &&
         checkText("-p", options.modePrefix, error);
}

}  // namespace

bool checkText(const std::string& what, const std::string& text, std::string& error) {
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02x", byte);
      error = what + " holds the control byte " + code + "; it is not sent";
      return false;
    }
  }
  return true;
}

bool checkOptions(const Options& options, std::string& error) {
  const int sources = !options.commands.empty() + !options.batchFile.empty() + options.shell;
  const bool hasMode = !options.mode.empty();
  const Exclusion exclusions[] = {
      {options.slots, sources > 0, "slots takes no commands"},
      {options.freeStale, !options.slots, "--free-stale goes with slots"},
      {!options.slots, sources != 1,
       sources == 0 ? "no command given" : "give commands, --batch FILE or shell, only one of them"},
      {!options.contextCommand.empty(), hasMode, "-c and -m exclude each other"},
      {options.modeArgument.has_value() || !options.modePrefix.empty(), !hasMode,
       "-a and -p go with -m"},
      {options.raw, options.json, "--raw and --json exclude each other"},
      {options.raw, !options.find.empty() || !options.values.empty(),
       "--raw prints the device output only; --find and --values need the text or --json form"},
      {options.dryRun, options.shell, "--dry-run works on commands and --batch, not the shell"},
      {!options.scenarioFile.empty(), !options.simulator, "--scenario goes with --simulator"},
      {options.strict, options.scenarioFile.empty(), "--strict goes with --scenario (a replay)"},
  };
  for (const Exclusion& exclusion : exclusions) {
    if (exclusion.first && exclusion.second) {
      error = exclusion.message;
      return false;
    }
  }
  return checkTexts(options, error);
}

bool readBatch(const std::string& file, std::vector<Line>& lines, std::string& error) {
  std::ifstream opened;
  if (file != "-") {
    struct stat info = {};
    int failure = 0;
    if (stat(file.c_str(), &info) != 0) {
      failure = errno;
    } else if (S_ISDIR(info.st_mode)) {
      failure = EISDIR;
    } else {
      opened.open(file);
      if (!opened) failure = errno != 0 ? errno : EACCES;
    }
    if (failure != 0) {
      error = "--batch " + file + ": " + std::strerror(failure);
      return false;
    }
  }
  std::istream& in = file == "-" ? std::cin : opened;
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.compare(0, 3, "\xef\xbb\xbf") == 0) line.erase(0, 3);
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (!checkText("--batch " + file + " line " + std::to_string(number), line.substr(start), error)) {
      return false;
    }
    lines.push_back({number, line.substr(start)});
  }
  if (in.bad()) error = "--batch " + file + ": read error";
  if (!in.bad() && lines.empty()) error = "--batch " + file + " holds no command";
  return error.empty();
}
