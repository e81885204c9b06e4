#include <zubdm/fifo/SigpipeShield.h>

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

}  // namespace

TEST(SigpipeShield, ConsumesOnlyTheSigpipeOfItsWriteAndRestoresMaskAndErrno) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  close(ends[0]);  // every write to ends[1] now raises SIGPIPE
  const struct {
    const char* name;
    bool hostBlocks;     // SIGPIPE blocked on the thread before the shield
    bool pendingBefore;  // and one already pending: the host's, to be kept
    bool noted;          // the library's write (else the host's, say its log sink's)
  } rows[] = {
      {"host default", false, false, true},
      {"host blocks", true, false, true},
      {"host's SIGPIPE pending", true, true, true},
      {"the host's own write: its SIGPIPE reaches it", false, false, false},
  };
  const auto host = signal(SIGPIPE, countSigpipe);
  sigset_t pipeSet, mask;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    pthread_sigmask(row.hostBlocks ? SIG_BLOCK : SIG_UNBLOCK, &pipeSet, nullptr);
    if (row.pendingBefore) raise(SIGPIPE);
    delivered = 0;
    {
      SigpipeShield shield;
      EXPECT_EQ(write(ends[1], "x", 1), -1);
      if (row.noted) shield.noteWriteFailure(errno);
    }
    EXPECT_TRUE(errno == EPIPE && delivered == (row.noted ? 0 : 1));
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), row.hostBlocks) << "mask not restored";
    sigpending(&mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), row.pendingBefore);
    const struct timespec now = {0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &now) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_UNBLOCK, &pipeSet, nullptr);
  signal(SIGPIPE, host);
  close(ends[1]);
}
