#include "mediator/PipeSource.h"

#include <unistd.h>

#include <cerrno>

namespace zubdm {
namespace internal {

namespace {
// How long a CLI whose output closed gets to end before it is left for
// disconnect() to reap.
const int kEndingGraceMs = 50;
}  // namespace

ByteSource::Result PipeSource::read(char* buffer, size_t capacity,
                                    Deadline deadline) {
  for (;;) {
    switch (waiter_.wait(fd_, -1, child_.exitFd(), deadline).event) {
      case Waiter::Event::Ready: {
        const Result got = readNow(buffer, capacity);
        // Readable, yet nothing to read: wait again.
        if (got.status != Status::Empty) return got;
        break;
      }
      case Waiter::Event::CliExited: {
        // What the CLI wrote before it ended is still worth reading.
        const Result got = readNow(buffer, capacity);
        if (got.status == Status::Data) return got;
        child_.reapIfExited();
        return {Status::Closed, 0};
      }
      case Waiter::Event::TimedOut:
        return {Status::TimedOut, 0};
      case Waiter::Event::Cancelled:
        return {Status::Cancelled, 0};
      case Waiter::Event::Failed:
        return {Status::Failed, 0};
    }
  }
}

ByteSource::Result PipeSource::readNow(char* buffer, size_t capacity) {
  if (fd_ < 0) return {Status::Failed, 0};
  ssize_t got;
  do {
    got = ::read(fd_, buffer, capacity);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    if (observer_) observer_(std::string_view(buffer, static_cast<size_t>(got)));
    return {Status::Data, static_cast<size_t>(got)};
  }
  if (got == 0) {
    // The output closes as the CLI ends: it is reaped once it has.
    child_.reapWithin(kEndingGraceMs);
    return {Status::Closed, 0};
  }
  return {errno == EAGAIN ? Status::Empty : Status::Failed, 0};
}

}  // namespace internal
}  // namespace zubdm
