#include "TranscriptLog.h"

#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "VisibleText.h"

namespace {

// Local time to the millisecond: "2024-05-01 12:00:00.123".
std::string now() {
  struct timeval tv = {};
  gettimeofday(&tv, nullptr);
  struct tm local = {};
  localtime_r(&tv.tv_sec, &local);
  char text[40];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03ld", static_cast<long>(tv.tv_usec / 1000));
  return text;
}

}  // namespace

TranscriptLog::~TranscriptLog() {
  flush();
  if (file_ != nullptr) std::fclose(file_);
}

bool TranscriptLog::openFile(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "ae");
  path_ = path;
  if (file_ == nullptr) error = "--log " + path + ": " + std::strerror(errno);
  return file_ != nullptr;
}

void TranscriptLog::add(ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction direction,
                        std::string_view bytes) {
  if (!active()) return;
  const bool sending = direction == ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction::ToCli;
  if (sending != sending_) flush();
  sending_ = sending;
  while (!bytes.empty()) {
    if (pending_.empty()) stamp_ = now();
    const size_t end = sending ? std::string_view::npos : bytes.find('\n');
    const size_t take = end == std::string_view::npos ? bytes.size() : end + 1;
    pending_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (end != std::string_view::npos) flush();
  }
}

void TranscriptLog::flush() {
  if (pending_.empty()) return;
  writeLine(stamp_ + (sending_ ? " > " : " < ") + visibleText(masks_.apply(pending_)) +
            "\n");
  pending_.clear();
}

bool TranscriptLog::fileWritten(std::string& error) const {
  if (writeError_ == 0) return true;
  error = "--log " + path_ + ": cannot be written: " + std::strerror(writeError_);
  return false;
}

void TranscriptLog::writeLine(const std::string& line) {
  if (file_ != nullptr) {
    const bool written = std::fputs(line.c_str(), file_) != EOF && std::fflush(file_) == 0;
    if (!written && writeError_ == 0) writeError_ = errno;
  }
  if (stderr_) std::fputs(line.c_str(), stderr);
}
