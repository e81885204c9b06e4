// zubdm: runs commands on the element's CLI through the zubdm library.

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommandRunner.h"
#include "ExitStatus.h"
#include "Interrupts.h"
#include "Masks.h"
#include "ModeTracker.h"
#include "OptionChecks.h"
#include "Options.h"
#include "Recorder.h"
#include "ResultPrinter.h"
#include "Session.h"
#include "Shell.h"
#include "SlotsCommand.h"
#include "TranscriptLog.h"

namespace {

int usageError(const std::string& error) {
  std::fprintf(stderr, "zubdm: %s\n", error.c_str());
  return kExitUsage;
}

std::string executableDirectory() {
  char path[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string exe(path, static_cast<size_t>(length));
  return exe.substr(0, exe.rfind('/'));
}

// The bundled simulator first on PATH (beside an installed zubdm under
// libexec/zubdm, or in the build tree), with its scenario if one is given.
bool useSimulator(const Options& options, std::string& error) {
  std::string directory = executableDirectory() + "/../" ZUBDM_LIBEXEC_REL;
  if (access((directory + "/cli").c_str(), X_OK) != 0) directory = ZUBDM_BUILD_SIM_DIR;
  if (access((directory + "/cli").c_str(), X_OK) != 0) {
    error = "the bundled CLI simulator is not installed";
    return false;
  }
  const char* path = std::getenv("PATH");
  setenv("PATH", (directory + ":" + (path ? path : "")).c_str(), 1);
  if (!options.scenarioFile.empty()) {
    if (access(options.scenarioFile.c_str(), R_OK) != 0) {
      error = "--scenario " + options.scenarioFile + " cannot be read";
      return false;
    }
    setenv("ZUBDM_CLI_SCENARIO", options.scenarioFile.c_str(), 1);
  }
  if (options.strict) setenv("ZUBDM_CLI_STRICT", "1", 1);
  return true;
}

// -p changes what the mode commands do (-p no turns "interface A" into
// "no interface A"): they are shown, and sent only when confirmed.
bool confirmPrefix(const Options& options, const ModeTracker& mode, std::string& error) {
  if (options.modePrefix.empty()) return true;
  std::fprintf(stderr, "zubdm: with -p %s the mode lines are:\n", options.modePrefix.c_str());
  for (const std::string& line : mode.lines()) std::fprintf(stderr, "  %s\n", line.c_str());
  if (options.yes || options.dryRun) return true;
  error = "not sent: add --yes to send them (--dry-run shows every line)";
  return false;
}

ResultPrinter::Format formatOf(const Options& options) {
  if (options.raw) return ResultPrinter::Format::kRaw;
  return options.json ? ResultPrinter::Format::kJson : ResultPrinter::Format::kText;
}

// Everything before connecting: the lines to run, the starting mode, the
// masks and the log.
struct Plan {
  explicit Plan(const ZUB_DEVICE_MEDIATION::ZUBContextBuilder& table)
      : mode(table), log(masks), recorder(masks) {}
  std::vector<Line> lines;
  ModeTracker mode;
  Masks masks;
  TranscriptLog log;
  Recorder recorder;
};

// A message that quotes what was given is masked (see main()).
bool prepare(const Options& options, Plan& plan, std::string& error) {
  for (const std::string& mask : options.masks) {
    if (!plan.masks.add(mask, error)) return false;
  }
  for (size_t i = 0; i < options.commands.size(); ++i) plan.lines.push_back({i + 1, options.commands[i]});
  if (!options.batchFile.empty() && !readBatch(options.batchFile, plan.lines, error)) return false;
  if (!options.mode.empty() &&
      !plan.mode.enter(options.mode, options.modeArgument, options.modePrefix, error)) {
    return false;
  }
  if (!options.contextCommand.empty()) plan.mode.useContextCommand(options.contextCommand);
  if (!confirmPrefix(options, plan.mode, error)) return false;
  if (!options.recordFile.empty() && !options.dryRun &&
      !Recorder::writable(options.recordFile, error)) {
    return false;
  }
  plan.log.toStandardError(options.verbose);
  return options.logFile.empty() || options.dryRun || plan.log.openFile(options.logFile, error);
}

// Connects, runs, disconnects. The exit status, 128+N after signal N.
int runSession(const Options& options, Plan& plan, ResultPrinter& printer) {
  Session session(options);
  Interrupts::install(session.adaptor());
  session.setTranscriptSink([&plan](ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction direction,
                                    std::string_view bytes) {
    plan.log.add(direction, bytes);
    plan.recorder.add(direction, bytes);
  });
  std::vector<std::string> reasons;
  std::string error;
  int status = kExitUsage;
  if (!session.setErrorPrefixes(options.errorPrefixes, error)) {
    usageError(error);
  } else if (!session.open(reasons)) {
    if (Interrupts::pending() == 0) std::fprintf(stderr, "zubdm: cannot connect to the CLI:\n");
    for (const std::string& reason : reasons) std::fprintf(stderr, "  %s\n", reason.c_str());
  } else {
    plan.recorder.start();
    status = options.shell ? Shell(session, plan.mode, printer, plan.recorder, plan.masks).run()
                           : CommandRunner(options, plan.mode, &session, printer, plan.masks).run(plan.lines);
  }
  session.close();
  plan.log.flush();
  if (!plan.log.fileWritten(error)) status = usageError(error);
  // Nothing was recorded when no connection came up: a file there stays.
  if (!options.recordFile.empty() && plan.recorder.started() &&
      !plan.recorder.write(options.recordFile, error)) {
    status = usageError(error);
  }
  if (printer.failed() && Interrupts::pending() == 0) {
    std::fprintf(stderr, "zubdm: the output could not be written\n");
  }
  return Interrupts::pending() != 0 ? kExitSignalBase + Interrupts::pending() : status;
}

// Closed standard streams are opened on /dev/null before anything else
// opens a descriptor: the next one opened (the library's wake descriptor, a
// pipe to the CLI) would otherwise take the number, and the shell would
// wait for keys on it or results would be written into it. False when
// standard output was closed: no result could be shown.
bool claimStandardStreams() {
  bool outputOpen = true;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    outputOpen = outputOpen && fd != STDOUT_FILENO;
    if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) return false;
  }
  return outputOpen;
}

}  // namespace

int main(int argc, char** argv) {
  if (!claimStandardStreams()) {
    std::fprintf(stderr, "zubdm: standard output is closed\n");
    return kExitUsage;
  }
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error) ||
      (!options.help && !options.version && !checkOptions(options, error))) {
    std::fprintf(stderr, "zubdm: %s\n(zubdm --help shows the usage)\n", error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(usageText(), stdout);
    return kExitSuccess;
  }
  if (options.version) {
    std::printf("zubdm %s (%s)\n", ZUBDM_VERSION, ZUBDM_SONAME);
    return kExitSuccess;
  }
  if (options.slots) return runSlots(options.freeStale, stdout);
  const ZUB_DEVICE_MEDIATION::ZUBContextBuilder table;
  Plan plan(table);
  if (!prepare(options, plan, error)) return usageError(plan.masks.apply(error));
  ResultPrinter printer(formatOf(options), stdout);
  if (options.dryRun) {
    return CommandRunner(options, plan.mode, nullptr, printer, plan.masks).run(plan.lines);
  }
  if (options.simulator && !useSimulator(options, error)) return usageError(error);
  return runSession(options, plan, printer);
}
