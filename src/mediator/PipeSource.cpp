#include <zubdm/mediator/PipeSource.h>

#include <cerrno>

#include <zubdm/fifo/PipeIo.h>

namespace zubdm {
namespace internal {

using ZUB_DEVICE_MEDIATION::FailureKind;

namespace {
// How long a CLI whose output closed gets to end before it is left for
// disconnect() to reap.
const int kEndingGraceMs = 50;
}  // namespace

ByteSource::Result PipeSource::read(char* buffer, size_t capacity, Deadline deadline) {
  for (;;) {
    const auto failure = waiter_.wait(fd_, -1, child_.exitFd(), deadline);
    if (failure && failure.kind != FailureKind::CliGone) return {0, failure};
    // After the CLI's exit, what it wrote before it ended is still read.
    Result got = readNow(buffer, capacity);
    if (got.count > 0 || got.failure) return got;
    if (failure) return gone(0, failure.error);
    // Readable, yet nothing to read: wait again.
  }
}

ByteSource::Result PipeSource::readNow(char* buffer, size_t capacity) {
  if (fd_ < 0) return {0, failureOf(FailureKind::NotConnected)};
  const ssize_t got = readPipe(fd_, buffer, capacity);
  if (got > 0) {
    if (observer_) observer_(std::string_view(buffer, static_cast<size_t>(got)));
    return {static_cast<size_t>(got), {}};
  }
  // The output closes as the CLI ends: it is reaped once it has.
  if (got == 0) return gone(kEndingGraceMs);
  if (errno == EAGAIN) return {0, {}};
  return gone(0, errno);
}

ByteSource::Result PipeSource::gone(int graceMs, int error) {
  Result result = {0, failureOf(FailureKind::CliGone, error)};
  child_.describeEnd(graceMs, result.failure);
  return result;
}

}  // namespace internal
}  // namespace zubdm
