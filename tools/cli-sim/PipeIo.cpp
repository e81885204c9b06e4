#include "PipeIo.h"

#include <fcntl.h>
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
