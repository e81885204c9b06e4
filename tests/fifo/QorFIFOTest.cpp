#include <zubdm/fifo/QorFIFO.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include <zubdm/fifo/QorFIFO_Recv.h>
#include <zubdm/fifo/QorFIFO_Send.h>
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace {

const int kMode = 0667;

struct stat statOf(const std::string& path) {
  struct stat status = {};
  lstat(path.c_str(), &status);
  return status;
}

bool hasFlag(int fd, int getCmd, int flag) { return (fcntl(fd, getCmd, 0) & flag) != 0; }

}  // namespace

TEST(QorFIFO, UnsafePathIsRefusedNeverFollowedAndLeftAsItWas) {
  TempDir dir;
  const std::string path = dir.file("p"), ours = dir.file("ours");
  ASSERT_EQ(mkfifo(ours.c_str(), 0600), 0);
  const struct {
    const char* name;
    bool asRoot;                 // planted as another user
    std::function<int()> plant;  // 0: planted at `path`
  } rows[] = {
      {"link to a safe pipe of ours", false, [&] { return symlink(ours.c_str(), path.c_str()); }},
      {"link to nothing yet", false, [&] { return symlink(dir.file("none").c_str(), path.c_str()); }},
      {"directory", false, [&] { return mkdir(path.c_str(), 0700); }},
      {"file closed to others", false, [&] { return std::ofstream(path) ? chmod(path.c_str(), 0600) : -1; }},
      {"pipe open to others", false, [&] { return mkfifo(path.c_str(), 0600) | chmod(path.c_str(), 0606); }},
      {"pipe others may only read", false, [&] { return mkfifo(path.c_str(), 0600) | chmod(path.c_str(), 0604); }},
      {"pipe of another user", true, [&] { return mkfifo(path.c_str(), 0600) | lchown(path.c_str(), 1, 1); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.asRoot && geteuid() != 0) continue;
    ASSERT_EQ(row.plant(), 0);
    const struct stat planted = statOf(path);
    {
      QorFIFO fifo;
      errno = 0;
      EXPECT_EQ(fifo.create(path.c_str(), kMode), -1);
      EXPECT_EQ(errno, EPERM);
      EXPECT_EQ(fifo.open(path.c_str(), O_RDONLY | O_NONBLOCK, kMode), -1);
      EXPECT_EQ(fifo.remove(), -1);
    }
    const struct stat after = statOf(path);
    EXPECT_TRUE(after.st_ino == planted.st_ino && after.st_mode == planted.st_mode);
    EXPECT_NE(access(dir.file("none").c_str(), F_OK), 0) << "made through a link";
    remove(path.c_str());
  }
}

TEST(QorFIFO, PipesAreClosedToOthersEndsCloseOnExecAndNothingIsLeftBehind) {
  TempDir dir;
  const std::string path = dir.file("p");
  const int before = ProcessState::openDescriptors();
  EXPECT_EQ(QorFIFO().create(dir.file("none/p").c_str(), kMode), -1);
  {
    QorFIFO_Recv recv;
    QorFIFO_Send send;
    const mode_t mask = umask(0);
    EXPECT_EQ(recv.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CREAT, kMode), 0);
    umask(mask);
    EXPECT_EQ(statOf(path).st_mode, S_IFIFO | 0660);
    EXPECT_EQ(send.open(path.c_str(), O_CREAT, kMode), 0);  // the safe pipe there is used
    EXPECT_EQ(send.open(nullptr, 0, kMode), 0);  // again: the old descriptor goes, see below
    const int fd = recv.get_handle();
    EXPECT_TRUE(hasFlag(send.get_handle(), F_GETFD, FD_CLOEXEC));
    // The read end ends up blocking even though it was opened non-blocking,
    // and reads ahead 1024 bytes at most.
    EXPECT_FALSE(hasFlag(fd, F_GETFL, O_NONBLOCK));
    char buffer[2048];
    EXPECT_EQ(send.send(buffer, 1500), 1500);
    EXPECT_TRUE(recv.recv(buffer, 1) == 1 && recv.buffered() == 1023 && recv.recv(buffer, 2048) == 1023);
    // Only the two selectors switch anything; FD_CLOEXEC's own value is none.
    EXPECT_EQ(recv.disable(FD_CLOEXEC) | recv.enable(O_NONBLOCK), 0);
    EXPECT_TRUE(hasFlag(fd, F_GETFD, FD_CLOEXEC) && hasFlag(fd, F_GETFL, O_NONBLOCK));
    EXPECT_EQ(recv.disable(QorFIFO::CLOSE_ON_EXEC), 0);
    EXPECT_FALSE(hasFlag(fd, F_GETFD, FD_CLOEXEC));
    EXPECT_EQ(send.remove(), 0);
    EXPECT_EQ(statOf(path).st_mode, 0u);
    EXPECT_EQ(recv.remove(), -1);  // already gone, but closed anyway
    EXPECT_EQ(recv.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CREAT, kMode), 0);
  }
  EXPECT_EQ(statOf(path).st_mode, 0u) << "destruction removes the pipe file";
  {
    QorFIFO removed;
    ASSERT_EQ(removed.create(path.c_str(), kMode) | removed.remove(), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);  // another endpoint's, since
  }
  EXPECT_NE(statOf(path).st_mode, 0u) << "a removed endpoint took a later pipe at its path";
  unlink(path.c_str());
  EXPECT_EQ(ProcessState::openDescriptors(), before);
  // A longer path is refused: two such paths cut to 30 characters would
  // name one pipe, and one end would read what it wrote itself.
  const std::string longer = dir.file(std::string(30 - dir.path().size(), 'p'));
  QorFIFO_Send writing;
  errno = 0;
  EXPECT_EQ(writing.open((longer + "W").c_str(), O_CREAT | O_NONBLOCK, kMode), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(QorFIFO_Recv().create((longer + "R").c_str(), kMode), -1);
  EXPECT_STREQ(QorFIFO((longer + "R").c_str(), kMode).name(), "");
  EXPECT_EQ(statOf(longer.substr(0, 30)).st_mode, 0u) << "made at the path cut short";
}
