#include "fifo/SigpipeShield.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>

using zubdm::internal::SigpipeShield;

namespace {

volatile sig_atomic_t delivered = 0;
void countSigpipe(int) { ++delivered; }

bool sigpipeBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE) == 1;
}

bool sigpipePending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

TEST(SigpipeShield, ConsumesOnlyTheSigpipeOfANotedWriteAndRestoresMaskAndErrno) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  close(ends[0]);  // every write to ends[1] now raises SIGPIPE
  const struct {
    const char* name;
    bool hostBlocks;     // SIGPIPE blocked on the thread before the shield
    bool pendingBefore;  // and one already pending: the host's, to be kept
    bool write;          // a write to the broken pipe, noted
  } cases[] = {
      {"host default, noted write", false, false, true},
      {"host blocks, noted write", true, false, true},
      {"host's SIGPIPE pending, noted write", true, true, true},
      {"host default, nothing written", false, false, false},
      {"host's SIGPIPE pending, nothing written", true, true, false},
  };
  struct sigaction counting = {}, old;
  counting.sa_handler = countSigpipe;
  sigaction(SIGPIPE, &counting, &old);
  sigset_t pipeSet, hostMask;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, nullptr, &hostMask);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pthread_sigmask(c.hostBlocks ? SIG_BLOCK : SIG_UNBLOCK, &pipeSet, nullptr);
    if (c.pendingBefore) raise(SIGPIPE);
    delivered = 0;
    {
      SigpipeShield shield;
      errno = EDOM;
      if (c.write) {
        EXPECT_EQ(write(ends[1], "x", 1), -1);
        shield.noteWriteFailure(errno);
      }
    }
    EXPECT_EQ(errno, c.write ? EPIPE : EDOM);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(sigpipeBlocked(), c.hostBlocks) << "mask not restored";
    EXPECT_EQ(sigpipePending(), c.pendingBefore);
    const struct timespec now = {0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &now) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &hostMask, nullptr);
  sigaction(SIGPIPE, &old, nullptr);
  close(ends[1]);
}
