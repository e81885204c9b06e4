// What another local user could try against a mediator: paths planted where
// its pipes go, its live pipes, and the shared table of CLI users.
#include <fcntl.h>
#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "mediator/ZUBAdaptor.h"
#include "support/MediatorFixture.h"

using ZUB_DEVICE_MEDIATION::ZUBAdaptor;
using Lines = std::vector<std::string>;

namespace {

const int kEntry = 116;
const uid_t kOtherUser = 65534;

// Counts every open, read, write or change of one path (or, following links,
// of what it points to), by anyone, while in scope.
class Watch {
 public:
  Watch(const std::string& path, bool followLinks)
      : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    const uint32_t mask =
        IN_OPEN | IN_ACCESS | IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF |
        IN_MOVE_SELF |
        (followLinks ? 0u : static_cast<uint32_t>(IN_DONT_FOLLOW));
    EXPECT_GE(inotify_add_watch(fd_, path.c_str(), mask), 0) << path;
  }
  ~Watch() { close(fd_); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  int events() const {
    int count = 0;
    alignas(struct inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = read(fd_, buffer, sizeof buffer)) > 0) {
      for (char* at = buffer; at < buffer + length;) {
        const auto* event = reinterpret_cast<struct inotify_event*>(at);
        at += sizeof(struct inotify_event) + event->len;
        ++count;
      }
    }
    return count;
  }

 private:
  int fd_;
};

struct stat statOf(const std::string& path) {
  struct stat status = {};
  lstat(path.c_str(), &status);
  return status;
}

std::string contentOf(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The errno with which `user` fails to open `path` for reading (0: opened).
int openErrorAs(uid_t user, const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)
      _exit(255);
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    _exit(fd >= 0 ? 0 : errno);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ZUBAdaptorSecurity : public MediatorFixture {};

}  // namespace

TEST_F(ZUBAdaptorSecurity, PlantedPipePathsAreRefusedNeverOpenedNeverFollowed) {
  const std::string target = sim_->pipe("planted-target");
  const std::string none = sim_->pipe("planted-none");
  struct Plant {
    const char* name;
    bool needsRoot;  // planting as another user
    std::function<void(const std::string& path)> plant;
  } plants[] = {
      {"symlink to a file", false,
       [&](const std::string& path) {
         ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
       }},
      {"symlink to nothing yet", false,
       [&](const std::string& path) {
         ASSERT_EQ(symlink(none.c_str(), path.c_str()), 0);
       }},
      {"regular file", false,
       [](const std::string& path) { std::ofstream(path) << "file"; }},
      {"directory", false,
       [](const std::string& path) {
         ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
       }},
      {"FIFO of another user", true,
       [](const std::string& path) {
         ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
         ASSERT_EQ(lchown(path.c_str(), kOtherUser, kOtherUser), 0);
       }},
      {"FIFO with access for others", false,
       [](const std::string& path) {
         ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
         ASSERT_EQ(chmod(path.c_str(), 0666), 0);
       }},
  };
  const struct {
    std::string path;
    std::string message;
  } ends[] = {{sim_->pipe("clPipeW0"), "Can't create write FIFO:" + sim_->pipe("clPipeW0")},
              {sim_->pipe("clPipeR0"), "Can't create read FIFO:" + sim_->pipe("clPipeR0")}};
  for (const Plant& plant : plants) {
    if (plant.needsRoot && geteuid() != 0) {
      std::printf("skipped (needs root): %s\n", plant.name);
      continue;
    }
    for (const auto& end : ends) {
      SCOPED_TRACE(std::string(plant.name) + " at " + end.path);
      std::ofstream(target) << "keep";
      plant.plant(end.path);
      const struct stat planted = statOf(end.path);
      {
        Watch path(end.path, false);
        Watch linked(target, true);
        {
          ZUBAdaptor adaptor;
          logs_->clear();
          EXPECT_FALSE(adaptor.connect());
          // The failure, then its cause: what sits at the path and whose.
          const Lines logs = logs_->texts();
          ASSERT_EQ(logs.size(), 2u);
          EXPECT_EQ(logs[0], end.message);
          EXPECT_EQ(logs[1].rfind("cause: " + end.path + " is ", 0), 0u) << logs[1];
          EXPECT_EQ(ProcessState::childCount(), 0) << "no CLI is started";
        }
        EXPECT_EQ(path.events(), 0) << "the planted path was used";
        EXPECT_EQ(linked.events(), 0) << "the link was followed";
      }
      const struct stat after = statOf(end.path);
      EXPECT_EQ(after.st_ino, planted.st_ino);
      EXPECT_EQ(after.st_mode, planted.st_mode);
      EXPECT_EQ(after.st_uid, planted.st_uid);
      EXPECT_EQ(contentOf(target), "keep");
      EXPECT_NE(access(none.c_str(), F_OK), 0)
          << "nothing made through a link";
      if (S_ISDIR(planted.st_mode)) {
        rmdir(end.path.c_str());
      } else {
        unlink(end.path.c_str());
      }
      unlink(target.c_str());
    }
  }
}

TEST_F(ZUBAdaptorSecurity, LivePipesAreClosedToOtherUsersWhateverTheUmask) {
  // Others may pass through the directory, so only the pipes' own modes
  // keep them out.
  ASSERT_EQ(chmod(sim_->pipe("").c_str(), 0711), 0);
  for (const mode_t mask : {0000, 0022, 0077}) {
    SCOPED_TRACE(mask);
    const mode_t old = umask(mask);
    ZUBAdaptor adaptor;
    const bool connected = adaptor.connect();
    umask(old);
    ASSERT_TRUE(connected);
    for (const std::string& path : {sim_->pipe("clPipeW0"), sim_->pipe("clPipeR0")}) {
      SCOPED_TRACE(path);
      const struct stat status = statOf(path);
      EXPECT_TRUE(S_ISFIFO(status.st_mode));
      EXPECT_EQ(status.st_uid, geteuid());
      EXPECT_EQ(status.st_mode & 0007, 0u);
      if (geteuid() == 0) {
        EXPECT_EQ(openErrorAs(kOtherUser, path), EACCES);
      }
    }
  }
}

TEST_F(ZUBAdaptorSecurity, TableFullOfForeignEntriesIsLeftAsItWas) {
  for (const size_t size : {size_t{1740}, size_t{4096}}) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> before(size);
    for (size_t i = 0; i < size; ++i)
      before[i] = static_cast<unsigned char>(i * 13 + 1);
    for (int slot = 0; slot < 15; ++slot) {
      before[slot * kEntry + 4] = 1;
      before[slot * kEntry + 5] = static_cast<unsigned char>(3 + slot % 4);
    }
    sim_->writeTable(before);
    logs_->clear();
    {
      ZUBAdaptor adaptor;
      EXPECT_EQ(adaptor.getCliIndex(), -1);
      EXPECT_FALSE(adaptor.connect());
      EXPECT_EQ(ProcessState::childCount(), 0);
      EXPECT_EQ(sim_->pipeFiles(), Lines{});
    }
    EXPECT_EQ(logs_->texts(),
              (Lines{"No free cli index",
                     "cause: CLI user table " + sim_->tableName() + ": no slot is free"}));
    EXPECT_EQ(sim_->readTable(), before);
  }
}
