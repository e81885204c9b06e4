#include "PipeIo.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

const std::size_t kReadBlock = std::size_t{64} << 10;
const std::size_t kFlushThreshold = 1 << 20;

void pauseOneMillisecond() {
  struct timespec pause = {0, 1000000};
  while (nanosleep(&pause, &pause) == -1 && errno == EINTR) {
  }
}

}  // namespace

PipeIo::PipeIo() : readBuffer_(kReadBlock) {}

PipeIo::~PipeIo() {
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
}

namespace {

// Opens `path` (waiting for its peer, as pipes do), retrying on EINTR.
bool openPipe(const std::string& path, int flags, int& fd, std::string& error) {
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) error = "cannot open " + path + ": " + std::strerror(errno);
  return fd >= 0;
}

}  // namespace

bool PipeIo::open(const std::string& inputPath, const std::string& outputPath,
                  std::string& error) {
  return openPipe(inputPath, O_RDONLY, in_, error) &&
         openPipe(outputPath, O_WRONLY, out_, error);
}

PipeIo::ReadResult PipeIo::readLine(std::string& line) {
  line.clear();
  bool tooLong = false;
  for (;;) {
    if (readPos_ == readEnd_) {
      ssize_t n;
      do {
        n = read(in_, readBuffer_.data(), readBuffer_.size());
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return ReadResult::kEnd;
      readPos_ = 0;
      readEnd_ = static_cast<std::size_t>(n);
    }
    const char* start = readBuffer_.data() + readPos_;
    const std::size_t available = readEnd_ - readPos_;
    const void* newline = std::memchr(start, '\n', available);
    const std::size_t take =
        newline ? static_cast<const char*>(newline) - start : available;
    // Past the cap the rest of the line is skipped, not stored, so a
    // sender without line ends cannot make us grow without bound.
    if (!tooLong && line.size() + take > kMaxLine) {
      tooLong = true;
      line.clear();
      line.shrink_to_fit();
    }
    if (!tooLong) line.append(start, take);
    readPos_ += take;
    if (newline) {
      ++readPos_;
      return tooLong ? ReadResult::kTooLong : ReadResult::kLine;
    }
  }
}

void PipeIo::drainInput() {
  readPos_ = readEnd_ = 0;
  for (;;) {
    const ssize_t n = read(in_, readBuffer_.data(), readBuffer_.size());
    if (n == 0 || (n < 0 && errno != EINTR)) return;
  }
}

std::string PipeIo::takeTyped() {
  if (readEnd_ == readBuffer_.size() && readPos_ > 0) {
    std::memmove(readBuffer_.data(), readBuffer_.data() + readPos_, readEnd_ - readPos_);
    typedEnd_ -= std::min(typedEnd_, readPos_);
    readEnd_ -= readPos_;
    readPos_ = 0;
  }
  struct pollfd ready = {in_, POLLIN, 0};
  if (readEnd_ < readBuffer_.size() && poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN)) {
    const ssize_t n = read(in_, readBuffer_.data() + readEnd_, readBuffer_.size() - readEnd_);
    if (n > 0) readEnd_ += static_cast<std::size_t>(n);
  }
  // As the shell is typed: a line's leading command number and its blank
  // only tag the line.
  std::string echo;
  for (std::size_t i = std::max(typedEnd_, readPos_); i < readEnd_; ++i) {
    if (i == 0 || readBuffer_[i - 1] == '\n' || readBuffer_[i - 1] == '\r') {
      std::size_t digits = i;
      while (digits < readEnd_ && readBuffer_[digits] >= '0' && readBuffer_[digits] <= '9') ++digits;
      if (digits > i && digits < readEnd_ && readBuffer_[digits] == ' ') i = digits + 1;
      if (i == readEnd_) break;
    }
    const char byte = readBuffer_[i];
    if (byte == '\n') echo += "\r\n";
    if (byte != '\n' && byte != '\r') echo += byte;
  }
  typedEnd_ = readEnd_;
  return echo;
}

bool PipeIo::echoTyped() { return put(takeTyped()); }

bool PipeIo::put(const char* data, std::size_t size) {
  pending_.append(data, size);
  return pending_.size() < kFlushThreshold || flush();
}

bool PipeIo::flush() {
  std::size_t done = 0;
  bool ok = true;
  if (writeChunk_ == 0) {
    ok = writeAll(pending_.data(), pending_.size());
  } else {
    while (ok && done < pending_.size()) {
      if (done > 0) pauseOneMillisecond();
      if (done > 0 && typedEcho_) {
        const std::string echo = takeTyped();
        ok = writeAll(echo.data(), echo.size());
      }
      const std::size_t piece = std::min(writeChunk_, pending_.size() - done);
      ok = writeAll(pending_.data() + done, piece);
      done += piece;
    }
  }
  pending_.clear();
  return ok;
}

void PipeIo::closeOutput() {
  pending_.clear();
  if (out_ >= 0) close(out_);
  out_ = -1;
}

bool PipeIo::writeAll(const char* data, std::size_t size) {
  if (out_ < 0) {
    writeErrno_ = EBADF;
    return false;
  }
  while (size > 0) {
    const ssize_t n = write(out_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      writeErrno_ = errno;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}
