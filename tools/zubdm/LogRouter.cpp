#include "LogRouter.h"

#include <cstdio>

#include "host/HostLog.h"

namespace {
const size_t kKeptErrors = 16;
}  // namespace

LogRouter::LogRouter(bool verbose) : verbose_(verbose) {
  setHostLogSink([this](const HostLogRecord& record) {
    if (verbose_) {
      std::fprintf(stderr, "zubdm: log %u %s:%s:%d %s\n", record.severity, record.file,
                   record.function, record.line, record.text.c_str());
    }
    if (record.severity <= 3) {
      if (errors_.size() == kKeptErrors) errors_.erase(errors_.begin());
      errors_.push_back(record.text);
    }
  });
}

LogRouter::~LogRouter() { setHostLogSink({}); }

std::vector<std::string> LogRouter::takeErrors() {
  std::vector<std::string> errors;
  errors.swap(errors_);
  return errors;
}
