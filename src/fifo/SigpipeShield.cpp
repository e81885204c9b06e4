#include "fifo/SigpipeShield.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

#include "common/BaseQorLogHelper.h"

namespace {

thread_local int shieldDepth = 0;
// A noted write under the current shield failed with EPIPE.
thread_local bool brokenPipeNoted = false;

sigset_t sigpipeSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

}  // namespace

void SigpipeShield::noteWriteFailure(int error) {
  if (error == EPIPE && shieldDepth > 0) brokenPipeNoted = true;
}

SigpipeShield::SigpipeShield(Writes writes)
    : outermost_(shieldDepth++ == 0),
      anyWrites_(writes == ANY_WRITES),
      wasBlocked_(false),
      wasPending_(false),
      messagesBefore_(0) {
  if (!outermost_) return;
  const int savedErrno = errno;
  brokenPipeNoted = false;
  messagesBefore_ = BaseQorLogHelper::messagesOnThisThread();
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
  // A SIGPIPE can be pending only if a write in scope raised one: with
  // noted writes, only after a noted EPIPE or when the host's log sink (which
  // may write anywhere) ran.
  const bool mayBePending =
      anyWrites_ || brokenPipeNoted ||
      BaseQorLogHelper::messagesOnThisThread() != messagesBefore_;
  if (!wasPending_ && mayBePending) {
    const struct timespec now = {0, 0};
    while (sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
    }
  }
  brokenPipeNoted = false;
  if (!wasBlocked_) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  errno = savedErrno;
}
