#include "Session.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

using ZUB_DEVICE_MEDIATION::CLIResult;

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

Session::Session(const Options& options)
    : logs_(options.verbose), modeLabel_("root") {
  if (options.connectTimeoutMs > 0) {
    controller_.adaptor.setConnectTimeout(std::chrono::milliseconds(options.connectTimeoutMs));
  }
  if (options.replyTimeoutMs > 0) {
    controller_.adaptor.setReplyTimeout(std::chrono::milliseconds(options.replyTimeoutMs));
  }
}

bool Session::open(std::string& reason) {
  if (controller_.adaptor.getCliIndex() == -1) {
    reason = "no free CLI user slot in /shmem_cl_users (all taken, or three zubdm users "
             "already connected)";
    return false;
  }
  if (!onPath("cli")) {
    reason = "the element CLI program 'cli' was not found on PATH (try --simulator "
             "to use the bundled simulator)";
    return false;
  }
  logs_.takeErrors();
  if (controller_.adaptor.restart()) return true;
  reason = "could not bring up the CLI connection";
  const std::vector<std::string> errors = logs_.takeErrors();
  for (size_t i = 0; i < errors.size(); ++i) {
    reason += (i == 0 ? ": " : "; ") + errors[i];
  }
  return false;
}

bool Session::enterMode(const std::string& mode, const std::string& argument,
                        const std::string& prefix, std::string& error) {
  const ZUB_DEVICE_MEDIATION::ZUBContextBuilder* builder = controller_.getContextBuilder();
  std::vector<std::string> commands;
  if (builder == nullptr || builder->getContextCLI(commands, mode, argument, prefix) == 0) {
    error = "unknown mode '" + mode + "'; known modes:";
    for (const std::string& known : knownModes()) error += " " + known;
    logs_.takeErrors();
    return false;
  }
  contextCommands_ = commands;
  contextCommand_.clear();
  modeLabel_ = argument.empty() ? mode : mode + " " + argument;
  return true;
}

void Session::useContextCommand(const std::string& command) {
  contextCommands_.clear();
  contextCommand_ = command;
  modeLabel_ = command.empty() ? "root" : command;
}

std::string Session::modeLabel() const { return modeLabel_; }

bool Session::run(const std::string& command) {
  last_.reset(new CLIResult);
  if (contextCommand_.empty()) {
    controller_.forwardCliCommand(contextCommands_, command, *last_);
  } else {
    controller_.forwardCliCommand(contextCommand_, command, *last_);
  }
  storedState_ = last_->getCurrentExecState().toString();
  return last_->getState().equals(OpStatusEnum::Success);
}

std::vector<std::string> Session::knownModes() const {
  const ZUB_DEVICE_MEDIATION::ZUBContextBuilder* builder = controller_.getContextBuilder();
  return builder ? builder->knownContexts() : std::vector<std::string>();
}
