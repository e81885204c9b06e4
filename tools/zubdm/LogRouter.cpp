#include "LogRouter.h"

#include "host/HostLog.h"

namespace {
const size_t kKeptErrors = 16;
}  // namespace

LogRouter::LogRouter() {
  setHostLogSink([this](const HostLogRecord& record) {
    if (record.severity > 3) return;
    if (errors_.size() == kKeptErrors) errors_.erase(errors_.begin());
    errors_.push_back(record.text);
  });
}

LogRouter::~LogRouter() { setHostLogSink({}); }

std::vector<std::string> LogRouter::takeErrors() {
  std::vector<std::string> errors;
  errors.swap(errors_);
  return errors;
}
