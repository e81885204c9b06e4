#include "Session.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "ProcessProbe.h"

using ZUB_DEVICE_MEDIATION::CLIResult;
using Clock = std::chrono::steady_clock;

namespace {

long millisecondsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream directories(path ? path : "");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
  }
  return false;
}

Session::Session(const Options& options) {
  if (options.connectTimeoutMs > 0) {
    controller_.adaptor.setConnectTimeout(std::chrono::milliseconds(options.connectTimeoutMs));
  }
  if (options.replyTimeoutMs > 0) {
    controller_.adaptor.setReplyTimeout(std::chrono::milliseconds(options.replyTimeoutMs));
  }
  setTranscriptSink({});
}

Session::~Session() { close(); }

void Session::setTranscriptSink(ZUB_DEVICE_MEDIATION::ZUBAdaptor::TranscriptSink sink) {
  sink_ = std::move(sink);
  controller_.adaptor.setTranscriptSink(
      [this](ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction direction, std::string_view bytes) {
        failure_.observe(direction, bytes);
        if (sink_) sink_(direction, bytes);
      });
}

bool Session::open(std::vector<std::string>& reasons) {
  // Why no slot could be reserved was logged when the controller was built.
  if (controller_.adaptor.getCliIndex() != -1) logs_.takeErrors();
  failure_.reset();
  const Clock::time_point start = Clock::now();
  if (controller_.adaptor.getCliIndex() != -1 && !onPath("cli")) {
    reasons = {"the element CLI program 'cli' was not found on PATH (--simulator uses the "
               "bundled simulator)"};
    return false;
  }
  if (controller_.adaptor.getCliIndex() != -1 && controller_.adaptor.restart()) return true;
  reasons = failure_.explain(controller_.adaptor, logs_.takeErrors(), millisecondsSince(start));
  return false;
}

void Session::close() { controller_.adaptor.disconnect(); }

bool Session::usable() const {
  const ZUB_DEVICE_MEDIATION::ZUBAdaptor& adaptor = controller_.adaptor;
  return adaptor.isLoggedIn() && adaptor.isReadyForCommand() && processRunning(adaptor.getCliPid());
}

bool Session::run(const std::string& command, const ModeTracker& mode) {
  last_.reset(new CLIResult);
  logs_.takeErrors();
  const Clock::time_point start = Clock::now();
  if (mode.contextCommand().empty()) {
    controller_.forwardCliCommand(mode.contextCommands(), command, *last_);
  } else {
    controller_.forwardCliCommand(mode.contextCommand(), command, *last_);
  }
  lastContext_.command = command;
  lastContext_.mode = mode.label();
  lastContext_.durationMs = millisecondsSince(start);
  lastContext_.replyTimeoutMs = static_cast<long>(controller_.adaptor.getReplyTimeout().count());
  lastContext_.maxReplySize = controller_.adaptor.getMaxReplySize();
  lastContext_.logged = logs_.takeErrors();
  return last_->getState().equals(OpStatusEnum::Success);
}
