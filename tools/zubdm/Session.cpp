#include "Session.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "ProcessProbe.h"
#include "VisibleText.h"

using ZUB_DEVICE_MEDIATION::CLIResult;
using ZUB_DEVICE_MEDIATION::FailureKind;
using ZUB_DEVICE_MEDIATION::FailureRecord;
using ZUB_DEVICE_MEDIATION::FailureStep;
using Clock = std::chrono::steady_clock;

namespace {

long millisecondsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// What the login waited for at `step`.
std::string waitedFor(FailureStep step) {
  switch (step) {
    case FailureStep::LoginPrompt:
      return "the CLI's \"Login:\" (its pipe opened and its first output)";
    case FailureStep::PasswordPrompt:
      return "the password prompt \"Password:\"";
    case FailureStep::PipeOpen:
      return "the CLI to open its pipe";
    default:
      return "the first prompt \"HVB...#\" after the login";
  }
}

std::string waitFailure(const FailureRecord& failure) {
  const std::string what = waitedFor(failure.step);
  switch (failure.kind) {
    case FailureKind::TimedOut:
      // A refused login asks for the user again instead of prompting.
      if (failure.loginRefused) {
        return "the CLI refused the login: it asked for \"Login:\" again after the password";
      }
      return "no answer from the CLI: waited " + std::to_string(failure.limit) +
             " ms (--connect-timeout) for " + what;
    case FailureKind::Cancelled:
      return "interrupted while waiting for " + what;
    default:
      return "the CLI " + std::string(failure.ended ? "ended" : "closed its output") + " while " +
             (failure.step == FailureStep::PipeOpen ? "zubdm waited for " : "the login waited for ") +
             what;
  }
}

// The first file named `program` along PATH, as posix_spawnp looks for it;
// empty when there is none.
std::string foundOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "";
  for (size_t start = 0, end; start <= directories.size(); start = end + 1) {
    end = std::min(directories.find(':', start), directories.size());
    const std::string directory = directories.substr(start, end - start);
    const std::string file = (directory.empty() ? "." : directory) + "/" + program;
    if (access(file.c_str(), F_OK) == 0) return file;
  }
  return std::string();
}

std::string spawnFailure(const FailureRecord& failure) {
  const bool alongPath = failure.path.find('/') == std::string::npos;
  if (alongPath && failure.error == ENOENT) {
    return "the element CLI program '" + failure.path +
           "' was not found on PATH (--simulator uses the bundled simulator)";
  }
  const std::string found = alongPath && failure.error == EACCES ? foundOnPath(failure.path) : "";
  if (found.empty()) return "the CLI program could not be started";
  return "found " + found + " on PATH but it cannot be executed: " + std::strerror(failure.error);
}

}  // namespace

std::vector<std::string> connectFailureText(const FailureRecord& failure) {
  std::string first;
  switch (failure.step) {
    case FailureStep::Table:
      first = "cannot open the CLI user table " + failure.path;
      break;
    case FailureStep::Slot:
      first = "no free CLI user slot in " + failure.path +
              " ('zubdm slots' lists them; 'zubdm slots --free-stale' frees those whose "
              "process has gone)";
      break;
    case FailureStep::PipeCreate:
      first = failure.fileMode == 0
                  ? "cannot create the pipe file " + failure.path
                  : "the pipe file " + failure.path +
                        " is already there and is not this user's private FIFO; removing it (rm " +
                        failure.path + ") frees the slot";
      break;
    case FailureStep::Spawn:
      first = spawnFailure(failure);
      break;
    case FailureStep::PipeOpen:
      first = failure.kind == FailureKind::NotConnected ? "cannot open the pipe " + failure.path
                                                        : waitFailure(failure);
      break;
    case FailureStep::None:
      first = "could not bring up the CLI connection";
      break;
    default:
      first = waitFailure(failure);
  }
  return {first, "cause: " + describeFailure(failure)};
}

Session::QuietLog::QuietLog() {
  setHostLogSink([](const HostLogRecord&) {});
}

Session::QuietLog::~QuietLog() { setHostLogSink({}); }

Session::Session(const Options& options)
    : showProgress_(isatty(STDERR_FILENO) && !options.json && !options.raw && !options.verbose) {
  if (options.connectTimeoutMs > 0) {
    controller_.adaptor.setConnectTimeout(std::chrono::milliseconds(options.connectTimeoutMs));
  }
  if (options.replyTimeoutMs > 0) {
    controller_.adaptor.setReplyTimeout(std::chrono::milliseconds(options.replyTimeoutMs));
  }
}

Session::~Session() { close(); }

void Session::setTranscriptSink(ZUB_DEVICE_MEDIATION::ZUBAdaptor::TranscriptSink sink) {
  controller_.adaptor.setTranscriptSink(
      [this, sink](ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction direction, std::string_view bytes) {
        // The bytes counted are those of the reply to the last line written.
        if (direction == ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction::FromCli) {
          progress_.add(bytes.size());
        } else {
          progress_.restartCount();
        }
        sink(direction, bytes);
      });
}

bool Session::setErrorPrefixes(const std::vector<std::string>& prefixes, std::string& error) {
  for (const std::string& prefix : prefixes) {
    if (!controller_.adaptor.setErrorPrefixes({prefix})) {
      error = "--error-prefix '" + visibleText(prefix) +
              "' is refused: a prefix is not empty and holds no control byte";
      return false;
    }
  }
  return controller_.adaptor.setErrorPrefixes(prefixes);
}

bool Session::open(std::vector<std::string>& reasons) {
  if (controller_.adaptor.restart()) return true;
  reasons = connectFailureText(controller_.adaptor.getFailureRecord());
  return false;
}

void Session::close() { controller_.adaptor.disconnect(); }

bool Session::usable() const {
  const ZUB_DEVICE_MEDIATION::ZUBAdaptor& adaptor = controller_.adaptor;
  // A CLI that ended while idle is seen at once, before a command fails on it.
  return adaptor.isLoggedIn() && adaptor.isReadyForCommand() && processRunning(adaptor.getCliPid());
}

bool Session::run(const std::string& command, const ModeTracker& mode, const std::string& shown) {
  last_.reset(new CLIResult);
  const Clock::time_point start = Clock::now();
  if (showProgress_) progress_.start(shown);
  if (mode.contextCommand().empty()) {
    controller_.forwardCliCommand(mode.contextCommands(), command, *last_);
  } else {
    controller_.forwardCliCommand(mode.contextCommand(), command, *last_);
  }
  progress_.stop();
  lastContext_.command = command;
  lastContext_.mode = mode.label();
  lastContext_.durationMs = millisecondsSince(start);
  return last_->getState().equals(OpStatusEnum::Success);
}
