#ifndef ZUBDM_TESTS_SUPPORT_LOGCAPTURE_H
#define ZUBDM_TESTS_SUPPORT_LOGCAPTURE_H

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include <zubdm/host/HostLog.h>

// Collects every log record while in scope (thread-safe); restores the
// default sink afterwards.
class LogCapture {
 public:
  LogCapture() {
    setHostLogSink([this](const HostLogRecord& record) {
      std::lock_guard<std::mutex> guard(mutex_);
      records_.push_back(record);
    });
  }
  ~LogCapture() { setHostLogSink({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<HostLogRecord> records() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return records_;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> texts;
    for (const HostLogRecord& record : records()) texts.push_back(record.text);
    return texts;
  }
  // Number of records whose text equals `text` exactly.
  int count(const std::string& text) const {
    const std::vector<std::string> all = texts();
    return static_cast<int>(std::count(all.begin(), all.end(), text));
  }
  bool contains(const std::string& text) const { return count(text) > 0; }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    records_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<HostLogRecord> records_;
};

#endif  // ZUBDM_TESTS_SUPPORT_LOGCAPTURE_H
