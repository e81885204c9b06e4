#include <zubdm/mediator/Waiter.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace zubdm {
namespace internal {

using ZUB_DEVICE_MEDIATION::FailureKind;
using ZUB_DEVICE_MEDIATION::FailureRecord;

namespace {

// Milliseconds left until `deadline`, rounded up so that a wait never ends
// just before it; 0 once it has passed.
int millisecondsUntil(Deadline deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 86400000 ? 86400000 : static_cast<int>(ms);
}

}  // namespace

FailureRecord failureOf(FailureKind kind, int error) {
  FailureRecord failure;
  failure.kind = kind;
  failure.error = error;
  return failure;
}

Waiter::Waiter() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Waiter::~Waiter() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

void Waiter::cancel() const noexcept {
  if (wakeFd_ < 0) return;
  const int saved = errno;
  const std::uint64_t one = 1;
  // Fails only when the counter is full, which leaves it readable anyway.
  ssize_t ignored = write(wakeFd_, &one, sizeof one);
  (void)ignored;
  errno = saved;
}

bool Waiter::takeWake() const {
  std::uint64_t count = 0;
  return wakeFd_ >= 0 && read(wakeFd_, &count, sizeof count) == sizeof count;
}

FailureRecord Waiter::wait(int readFd, int writeFd, int exitFd, Deadline deadline,
                           Ready* ready) const {
  enum { kRead, kWrite, kExit, kWake, kCount };
  for (;;) {
    struct pollfd entries[kCount] = {{readFd, POLLIN, 0},
                                     {writeFd, POLLOUT, 0},
                                     {exitFd, POLLIN, 0},
                                     {wakeFd_, POLLIN, 0}};
    // Taken afresh on every pass: a signal handler's interruption restarts
    // the wait with what is left of it.
    const int timeout = millisecondsUntil(deadline);
    // poll skips entries with a negative descriptor.
    if (poll(entries, kCount, timeout) < 0) {
      if (errno == EINTR) continue;
      return failureOf(FailureKind::CliGone, errno);
    }
    if (entries[kWake].revents != 0 && takeWake()) return failureOf(FailureKind::Cancelled);
    const Ready seen = {entries[kRead].revents != 0, entries[kWrite].revents != 0};
    if (seen.readable || seen.writable) {
      if (ready != nullptr) *ready = seen;
      return FailureRecord();
    }
    if (entries[kExit].revents != 0) return failureOf(FailureKind::CliGone);
    if (timeout == 0) return failureOf(FailureKind::TimedOut);
  }
}

}  // namespace internal
}  // namespace zubdm
