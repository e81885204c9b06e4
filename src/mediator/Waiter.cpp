#include "mediator/Waiter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace zubdm {
namespace internal {

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

Waiter::Result Waiter::wait(int readFd, int writeFd, int exitFd,
                            Deadline deadline) const {
  enum { kRead, kWrite, kExit, kWake, kCount };
  for (;;) {
    struct pollfd entries[kCount] = {{readFd, POLLIN, 0},
                                     {writeFd, POLLOUT, 0},
                                     {exitFd, POLLIN, 0},
                                     {wakeFd_, POLLIN, 0}};
    const int timeout = millisecondsUntil(deadline);
    // poll skips entries with a negative descriptor.
    const int ready = poll(entries, kCount, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {Event::Failed, false, false};
    }
    if (entries[kWake].revents != 0 && takeWake()) {
      return {Event::Cancelled, false, false};
    }
    const bool readable = entries[kRead].revents != 0;
    const bool writable = entries[kWrite].revents != 0;
    if (readable || writable) return {Event::Ready, readable, writable};
    if (entries[kExit].revents != 0) return {Event::CliExited, false, false};
    if (timeout == 0) return {Event::TimedOut, false, false};
  }
}

}  // namespace internal
}  // namespace zubdm
