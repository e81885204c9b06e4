#include <zubdm/fifo/QorFIFO.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <zubdm/common/QorLogHelper.h>

namespace {

const char kLogFile[] = "QorFIFO";
// Pipes never grant access to others.
const mode_t kAllowedPerms = 0660;

// A pipe may be used when it is a FIFO of the effective user that others
// cannot open.
bool isSafePipe(const struct stat& status) {
  return S_ISFIFO(status.st_mode) && status.st_uid == geteuid() &&
         (status.st_mode & S_IRWXO) == 0;
}

}  // namespace

QorFIFO::QorFIFO() : handle_(-1), owner_(getpid()) { name_[0] = '\0'; }

QorFIFO::QorFIFO(char const* name, int perms) : handle_(-1), owner_(getpid()) {
  name_[0] = '\0';
  if (create(name, perms) == -1) {
    QorLogHelper(3, kLogFile, __func__, __LINE__).message("errno:%d", errno);
  }
}

QorFIFO::~QorFIFO() {
  if (owner_ == getpid()) {
    remove();
  } else {
    abandon();
  }
}

int QorFIFO::control(int cmd, void* arg) const {
  return ioctl(handle_, static_cast<unsigned long>(cmd), arg);
}

int QorFIFO::get_local_addr(char const*& name) const {
  name = name_;
  return 0;
}

int QorFIFO::enable(int value) const { return changeFlag(value, true, "enable"); }

int QorFIFO::disable(int value) const {
  return changeFlag(value, false, "disable");
}

int QorFIFO::changeFlag(int value, bool on, const char* function) const {
  int getCmd;
  int setCmd;
  int bit;
  if (value == CLOSE_ON_EXEC) {
    getCmd = F_GETFD;
    setCmd = F_SETFD;
    bit = FD_CLOEXEC;
  } else if (value == O_NONBLOCK) {
    getCmd = F_GETFL;
    setCmd = F_SETFL;
    bit = O_NONBLOCK;
  } else {
    return 0;
  }
  int flags = fcntl(handle_, getCmd, 0);
  if (flags >= 0) {
    flags = on ? (flags | bit) : (flags & ~bit);
    if (fcntl(handle_, setCmd, flags) >= 0) return 0;
  }
  const int error = errno;
  QorLogHelper(3, kLogFile, function, __LINE__)
      .message("[%d] -%s", error, strerror(error));
  errno = error;
  return -1;
}

bool QorFIFO::storeName(char const* name) {
  const size_t length = strnlen(name, NAME_SIZE);
  if (length == NAME_SIZE) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(name_, name, length + 1);
  owner_ = getpid();
  return true;
}

int QorFIFO::makeFifo(int perms) {
  if (mkfifo(name_, static_cast<mode_t>(perms) & kAllowedPerms) != 0 &&
      errno != EEXIST) {
    return -1;
  }
  // Whether new or found, the path must be a pipe of ours: a planted link,
  // file or foreign pipe is refused, never used.
  struct stat status;
  if (lstat(name_, &status) != 0) return -1;
  if (!isSafePipe(status)) {
    errno = EPERM;
    return -1;
  }
  return 0;
}

int QorFIFO::create(char const* name, int perms) {
  if (!storeName(name ? name : "")) return -1;
  return makeFifo(perms);
}

int QorFIFO::open(char const* name, int flags, int perms) {
  if (name != nullptr && !storeName(name)) return -1;
  if ((flags & O_CREAT) != 0 && makeFifo(perms) != 0) return -1;
  const int fd = ::open(name_, (flags & ~O_CREAT) | O_NOFOLLOW | O_CLOEXEC);
  // The path may have been swapped since it was checked: check what was
  // actually opened.
  struct stat status;
  const bool safe = fd >= 0 && fstat(fd, &status) == 0 && isSafePipe(status);
  const int error = fd < 0 ? errno : EPERM;
  if (fd >= 0 && !safe) ::close(fd);
  // The descriptor held from before goes only now, so that reopening a
  // pipe leaves no moment in which its reader sees no writer.
  close();
  if (!safe) {
    errno = error;
    return -1;
  }
  handle_ = fd;
  owner_ = getpid();
  return 0;
}

int QorFIFO::close() {
  if (handle_ == -1) return 0;
  const int result = ::close(handle_);
  handle_ = -1;
  return result;
}

void QorFIFO::abandon() {
  close();
  name_[0] = '\0';
}

int QorFIFO::remove() {
  const int closed = close();
  struct stat status;
  // Only our own pipe is unlinked; a path someone else planted stays.
  if (lstat(name_, &status) != 0) return -1;
  if (!isSafePipe(status)) {
    errno = EPERM;
    return -1;
  }
  if (unlink(name_) != 0) return -1;
  // Forgotten once gone: a later remove (the destructor's) must not take a
  // pipe that someone else has made at the path since.
  name_[0] = '\0';
  return closed == -1 ? -1 : 0;
}
