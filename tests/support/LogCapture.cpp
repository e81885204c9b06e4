#include "support/LogCapture.h"

LogCapture::LogCapture() {
  setHostLogSink([this](const HostLogRecord& record) {
    std::lock_guard<std::mutex> guard(mutex_);
    records_.push_back(record);
  });
}

LogCapture::~LogCapture() { setHostLogSink({}); }

std::vector<HostLogRecord> LogCapture::records() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return records_;
}

std::vector<std::string> LogCapture::texts() const {
  std::vector<std::string> texts;
  for (const HostLogRecord& record : records()) texts.push_back(record.text);
  return texts;
}

int LogCapture::count(const std::string& text) const {
  int n = 0;
  for (const HostLogRecord& record : records()) n += record.text == text;
  return n;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  records_.clear();
}
