#include "fifo/QorFIFO.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "fifo/QorFIFO_Recv.h"
#include "fifo/QorFIFO_Send.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace {

const int kMode = 0667;

mode_t modeOf(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

bool hasFlag(int fd, int getCmd, int flag) {
  return (fcntl(fd, getCmd, 0) & flag) != 0;
}

// Opens both ends of a pipe in one process.
struct PipePair {
  explicit PipePair(const std::string& path) {
    EXPECT_EQ(recv.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CREAT, kMode), 0);
    EXPECT_EQ(send.open(nullptr, 0, kMode), -1);  // not named yet
    EXPECT_EQ(send.open(path.c_str(), 0, kMode), 0);
  }
  QorFIFO_Recv recv;
  QorFIFO_Send send;
};

}  // namespace

TEST(QorFIFOCreate, NewPipesGiveOthersNoAccessAndSafePipesAreReused) {
  TempDir dir;
  const std::string path = dir.file("p");
  QorFIFO fifo;
  ASSERT_EQ(fifo.create(path.c_str(), kMode), 0);
  EXPECT_TRUE(S_ISFIFO(modeOf(path)));
  EXPECT_EQ(modeOf(path) & 0007, 0u);
  EXPECT_EQ(fifo.create(path.c_str(), kMode), 0);  // exists: reused
  EXPECT_EQ(fifo.create(dir.file("none/p").c_str(), kMode), -1);
}

TEST(QorFIFOLifecycle, CloseAndRemoveFollowTheDescriptorAndThePath) {
  TempDir dir;
  const std::string path = dir.file("p");
  QorFIFO never;
  EXPECT_EQ(never.close(), 0);
  EXPECT_EQ(never.close(), 0);
  EXPECT_EQ(never.remove(), -1);  // never named

  const int before = ProcessState::openDescriptors();
  {
    PipePair pipe(path);
    EXPECT_TRUE(hasFlag(pipe.recv.get_handle(), F_GETFD, FD_CLOEXEC));
    EXPECT_TRUE(hasFlag(pipe.send.get_handle(), F_GETFD, FD_CLOEXEC));
    // The read end ends up blocking even though it was opened non-blocking.
    EXPECT_FALSE(hasFlag(pipe.recv.get_handle(), F_GETFL, O_NONBLOCK));
    // Opening again replaces the descriptor without leaking the old one.
    EXPECT_EQ(pipe.send.open(nullptr, 0, kMode), 0);
    EXPECT_EQ(ProcessState::openDescriptors(), before + 2);
    EXPECT_EQ(pipe.send.remove(), 0);
    EXPECT_EQ(pipe.send.get_handle(), -1);
    EXPECT_EQ(modeOf(path), 0u);
    EXPECT_EQ(pipe.recv.remove(), -1);  // already gone, but closed anyway
    EXPECT_EQ(pipe.recv.get_handle(), -1);
  }
  EXPECT_EQ(ProcessState::openDescriptors(), before);
}

TEST(QorFIFOLifecycle, DestructionRemovesThePipeFile) {
  TempDir dir;
  const std::string path = dir.file("p");
  { PipePair pipe(path); }
  EXPECT_EQ(modeOf(path), 0u);
}

TEST(QorFIFOFlags, OnlyCloseOnExecAndNonBlockingAreSwitched) {
  TempDir dir;
  PipePair pipe(dir.file("p"));
  const int fd = pipe.recv.get_handle();
  const int fdFlags = fcntl(fd, F_GETFD, 0);
  const int flFlags = fcntl(fd, F_GETFL, 0);
  EXPECT_EQ(pipe.recv.enable(0), 0);
  EXPECT_EQ(pipe.recv.disable(1), 0);
  EXPECT_EQ(fcntl(fd, F_GETFD, 0), fdFlags);
  EXPECT_EQ(fcntl(fd, F_GETFL, 0), flFlags);

  EXPECT_EQ(pipe.recv.disable(QorFIFO::CLOSE_ON_EXEC), 0);
  EXPECT_FALSE(hasFlag(fd, F_GETFD, FD_CLOEXEC));
  EXPECT_EQ(pipe.recv.enable(QorFIFO::CLOSE_ON_EXEC), 0);
  EXPECT_TRUE(hasFlag(fd, F_GETFD, FD_CLOEXEC));
  EXPECT_EQ(pipe.recv.enable(O_NONBLOCK), 0);
  EXPECT_TRUE(hasFlag(fd, F_GETFL, O_NONBLOCK));

  QorFIFO closed;
  EXPECT_EQ(closed.enable(O_NONBLOCK), -1);
}

TEST(QorFIFOName, LongPathsAreCutToThirtyCharacters) {
  QorFIFO fifo;
  const std::string path = "/tmp/zubdm-no-such-dir/abcdefghijklmnopqr";  // 40
  fifo.create(path.c_str(), kMode);
  const char* stored = nullptr;
  EXPECT_EQ(fifo.get_local_addr(stored), 0);
  EXPECT_EQ(std::string(stored), path.substr(0, 30));
}

TEST(QorFIFORecv, BufferServesSmallReadsAndReadsAgainAfterEndOfFile) {
  TempDir dir;
  PipePair pipe(dir.file("p"));
  const std::string data(1500, 'x');
  ASSERT_EQ(pipe.send.send(data.data(), data.size()), 1500);

  char byte = 0;
  EXPECT_EQ(pipe.recv.recv(&byte, 1), 1);
  EXPECT_EQ(pipe.recv.buffered(), 1023);  // one read of 1024, nothing more
  char rest[4096];
  EXPECT_EQ(pipe.recv.recv(rest, sizeof rest), 1023);
  EXPECT_EQ(pipe.recv.recv(rest, sizeof rest), 476);

  // The writer goes: end of file. A new writer's bytes are read afterwards.
  pipe.send.close();
  EXPECT_EQ(pipe.recv.recv(rest, 1), 0);
  ASSERT_EQ(pipe.send.open(nullptr, 0, kMode), 0);
  ASSERT_EQ(pipe.send.send("ab", 2), 2);
  EXPECT_EQ(pipe.recv.recv(rest, sizeof rest), 2);
}

TEST(QorFIFOSend, ReaderGoneGivesEpipeWithoutSignal) {
  TempDir dir;
  PipePair pipe(dir.file("p"));
  pipe.recv.close();

  // Once with SIGPIPE unblocked (the usual host), once with it blocked and
  // already pending: that one is the host's and must stay pending.
  for (bool hostBlocked : {false, true}) {
    SCOPED_TRACE(hostBlocked ? "host blocks SIGPIPE" : "host default");
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(hostBlocked ? SIG_BLOCK : SIG_UNBLOCK, &pipeSet, &old);
    if (hostBlocked) raise(SIGPIPE);

    errno = 0;
    EXPECT_EQ(pipe.send.send("x", 1), -1);
    EXPECT_EQ(errno, EPIPE);

    sigset_t mask, pending;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), hostBlocked ? 1 : 0);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), hostBlocked ? 1 : 0);
    if (hostBlocked) {
      const struct timespec now = {0, 0};
      sigtimedwait(&pipeSet, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
}
