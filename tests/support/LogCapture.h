#ifndef ZUBDM_TESTS_SUPPORT_LOGCAPTURE_H
#define ZUBDM_TESTS_SUPPORT_LOGCAPTURE_H

#include <mutex>
#include <string>
#include <vector>

#include "host/HostLog.h"

// Collects every log record while in scope (thread-safe); restores the
// default sink afterwards.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<HostLogRecord> records() const;
  std::vector<std::string> texts() const;
  // Number of records whose text equals `text` exactly.
  int count(const std::string& text) const;
  bool contains(const std::string& text) const { return count(text) > 0; }
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<HostLogRecord> records_;
};

#endif  // ZUBDM_TESTS_SUPPORT_LOGCAPTURE_H
