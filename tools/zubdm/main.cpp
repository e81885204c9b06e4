// zubdm: runs commands on the element's CLI through the zubdm library.

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Options.h"
#include "ResultPrinter.h"
#include "Session.h"
#include "Shell.h"

namespace {

const int kExitSuccess = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;

std::string executableDirectory() {
  char path[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string exe(path, static_cast<size_t>(length));
  return exe.substr(0, exe.rfind('/'));
}

// The bundled simulator: beside an installed zubdm under libexec/zubdm, or
// in the build tree.
std::string simulatorDirectory() {
  const std::string installed = executableDirectory() + "/../" ZUBDM_LIBEXEC_REL;
  if (access((installed + "/cli").c_str(), X_OK) == 0) return installed;
  if (access(ZUBDM_BUILD_SIM_DIR "/cli", X_OK) == 0) return ZUBDM_BUILD_SIM_DIR;
  return std::string();
}

bool readBatch(const std::string& file, std::vector<std::string>& commands) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    commands.push_back(line.substr(start));
  }
  return true;
}

// Looks up what the options ask for in the last command's result.
void addLookups(const Options& options, ZUB_DEVICE_MEDIATION::CLIResult& result,
                CommandReport& report) {
  if (!options.find.empty()) {
    report.findAsked = true;
    report.found = result.getXMLResult().find_value(
                       options.find[0].c_str(), options.find[1].c_str(),
                       options.find[2].c_str(), report.foundValue) == 1;
  }
  if (!options.values.empty()) {
    report.valuesAsked = true;
    result.getXMLValues(report.values, options.values[0], options.values[1],
                        options.values[2]);
  }
}

int runCommands(Session& session, const Options& options,
                const std::vector<std::string>& commands) {
  const bool progress = !options.batchFile.empty() && isatty(STDERR_FILENO);
  bool allSucceeded = true;
  for (size_t i = 0; i < commands.size(); ++i) {
    if (progress) {
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", i + 1, commands.size(), commands[i].c_str());
    }
    const bool succeeded = session.run(commands[i]);
    CommandReport report = makeReport(commands[i], session.modeLabel(), *session.last(),
                                      session.lastStoredState());
    const bool lastOne = i + 1 == commands.size();
    if (lastOne) addLookups(options, *session.last(), report);
    if (progress) std::fprintf(stderr, "\r\033[K");
    options.json ? printJson(report, stdout) : printText(report, stdout);
    std::fflush(stdout);
    allSucceeded = allSucceeded && succeeded && (!report.findAsked || report.found);
    if (!succeeded && !options.batchFile.empty() && !options.keepGoing && !lastOne) {
      std::fprintf(stderr, "zubdm: stopped after a failed command (--keep-going runs on)\n");
      break;
    }
  }
  return allSucceeded ? kExitSuccess : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "zubdm: %s\n%s", error.c_str(), usageText());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(usageText(), stdout);
    return kExitSuccess;
  }
  std::vector<std::string> commands = options.commands;
  if (!options.batchFile.empty() && !readBatch(options.batchFile, commands)) {
    std::fprintf(stderr, "zubdm: cannot read %s\n", options.batchFile.c_str());
    return kExitUsage;
  }
  if (options.simulator) {
    const std::string directory = simulatorDirectory();
    if (directory.empty()) {
      std::fprintf(stderr, "zubdm: the bundled CLI simulator is not installed\n");
      return kExitUsage;
    }
    const char* path = std::getenv("PATH");
    setenv("PATH", (directory + ":" + (path ? path : "")).c_str(), 1);
  }

  Session session(options);
  if (!options.mode.empty() &&
      !session.enterMode(options.mode, options.modeArgument, options.modePrefix, error)) {
    std::fprintf(stderr, "zubdm: %s\n", error.c_str());
    return kExitUsage;
  }
  if (!options.contextCommand.empty()) session.useContextCommand(options.contextCommand);
  if (!session.open(error)) {
    std::fprintf(stderr, "zubdm: %s\n", error.c_str());
    return kExitUsage;
  }
  if (options.shell) return runShell(session, options);
  return runCommands(session, options, commands);
}
