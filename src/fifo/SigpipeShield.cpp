#include "fifo/SigpipeShield.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace {

thread_local int shieldDepth = 0;

sigset_t sigpipeSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

}  // namespace

SigpipeShield::SigpipeShield()
    : outermost_(shieldDepth++ == 0), wasBlocked_(false), wasPending_(false) {
  if (!outermost_) return;
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
  --shieldDepth;
  if (!outermost_) return;
  // errno of the shielded write must reach the caller unchanged.
  const int savedErrno = errno;
  const sigset_t set = sigpipeSet();
  if (!wasPending_) {
    const struct timespec now = {0, 0};
    while (sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
    }
  }
  if (!wasBlocked_) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  errno = savedErrno;
}
