#include "fifo/SigpipeShield.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace zubdm {
namespace internal {

namespace {

thread_local int shieldDepth = 0;
// A shielded write on this thread failed with EPIPE.
thread_local bool sigpipeRaised = false;

sigset_t sigpipeSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

}  // namespace

void SigpipeShield::noteWriteFailure(int error) {
  if (error == EPIPE && shieldDepth > 0) sigpipeRaised = true;
}

SigpipeShield::SigpipeShield()
    : outermost_(shieldDepth++ == 0), wasBlocked_(false), wasPending_(false) {
  if (!outermost_) return;
  const int savedErrno = errno;
  sigpipeRaised = false;
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
  --shieldDepth;
  if (!outermost_) return;
  // errno of the shielded write must reach the caller unchanged.
  const int savedErrno = errno;
  const sigset_t set = sigpipeSet();
  if (sigpipeRaised && !wasPending_) {
    const struct timespec now = {0, 0};
    while (sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
    }
  }
  sigpipeRaised = false;
  if (!wasBlocked_) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  errno = savedErrno;
}

}  // namespace internal
}  // namespace zubdm
