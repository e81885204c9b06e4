// Element CLI simulator: plays the element's CLI program over the two named
// pipes so that the library can be run and tested without a device.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "CliSession.h"
#include "Options.h"
#include "PipeIo.h"
#include "Scenario.h"
#include "Transcript.h"

namespace {

// Ending is the whole reaction to SIGTERM; _exit is async-signal-safe and
// nothing is buffered in user space that a clean exit would have to flush
// (the transcript is written line by line).
void onTerminate(int) { _exit(0); }

void installSignals() {
  struct sigaction action = {};
  action.sa_handler = onTerminate;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  // A reader that has gone shows up as EPIPE from write().
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!options.parse(argc, argv, error)) {
    std::fprintf(stderr, "cli: %s\n\n%s", error.c_str(), Options::usage());
    return 2;
  }
  if (options.help) {
    std::fputs(Options::usage(), stdout);
    return 0;
  }

  Scenario scenario;
  if (!options.scenarioPath.empty() &&
      !scenario.load(options.scenarioPath, error)) {
    std::fprintf(stderr, "cli: %s\n", error.c_str());
    return 2;
  }
  scenario.strict = options.strict;
  if (scenario.fault == StartFault::kExitAtOnce) return 3;
  installSignals();

  Transcript transcript;
  const std::string& transcriptPath = options.transcriptPath.empty()
                                          ? scenario.transcriptPath
                                          : options.transcriptPath;
  if (!transcriptPath.empty() && !transcript.open(transcriptPath, error)) {
    std::fprintf(stderr, "cli: %s\n", error.c_str());
    return 2;
  }

  PipeIo io;
  if (!io.open(options.inputPipe(), options.outputPipe(), error)) {
    std::fprintf(stderr, "cli: %s\n", error.c_str());
    return 1;
  }
  CliSession session(scenario, io, transcript);
  return session.run();
}
