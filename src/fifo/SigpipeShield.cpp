#include <zubdm/fifo/SigpipeShield.h>

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace zubdm {
namespace internal {

namespace {

sigset_t sigpipeSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

}  // namespace

void SigpipeShield::noteWriteFailure(int error) {
  if (error == EPIPE) raised_ = true;
}

SigpipeShield::SigpipeShield()
    : wasBlocked_(false), wasPending_(false), raised_(false) {
  const int savedErrno = errno;
  const sigset_t set = sigpipeSet();
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &set, &old);
  wasBlocked_ = sigismember(&old, SIGPIPE) == 1;
  if (wasBlocked_) {
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  errno = savedErrno;
}

SigpipeShield::~SigpipeShield() {
  // errno of the shielded write must reach the caller unchanged.
  const int savedErrno = errno;
  const sigset_t set = sigpipeSet();
  if (raised_ && !wasPending_) {
    const struct timespec now = {0, 0};
    while (sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
    }
  }
  if (!wasBlocked_) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  errno = savedErrno;
}

}  // namespace internal
}  // namespace zubdm
