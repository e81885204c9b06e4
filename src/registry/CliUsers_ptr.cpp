#include "registry/CliUsers_ptr.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/QorLogHelper.h"
#include "registry/CliUserInfo.h"

namespace ZUB_DEVICE_MEDIATION {

namespace {

const char kLogFile[] = "CliUsers_ptr";
// The element's programs all open the table with these permissions.
const mode_t kTableMode = 0777;
// Reservations hold their lock for a scan of 15 entries; a host that keeps
// it longer is stopped or stuck, and the others give up rather than hang.
const std::chrono::milliseconds kReservationWait{2000};
const int kReservationPauseMs = 1;
const off_t kReservationByte =
    static_cast<off_t>(CliUserInfo::MAX_ENTRIES) * CliUsers_ptr::ENTRY_SIZE;

// Closes the descriptor on every way out of map() but success.
class DescriptorCloser {
 public:
  explicit DescriptorCloser(int fd) : fd_(fd) {}
  ~DescriptorCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  DescriptorCloser(const DescriptorCloser&) = delete;
  DescriptorCloser& operator=(const DescriptorCloser&) = delete;
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Open-file-description locks belong to the open of the object, not to the
// process: two opens in one process exclude each other, and the lock goes
// when the last descriptor of the open is closed, also at the end of a
// process that crashed.
struct flock rangeLock(short type, off_t start, off_t length) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return lock;  // l_pid stays 0, as open-file-description locks require
}

struct flock entryLock(short type, int i) {
  return rangeLock(type, static_cast<off_t>(i) * CliUsers_ptr::ENTRY_SIZE,
                   CliUsers_ptr::ENTRY_SIZE);
}

bool isLockConflict(int error) { return error == EAGAIN || error == EACCES; }

// "<what>: <error text>", and for a permission problem who owns the table
// and its mode, from the descriptor or, when none was opened, its path.
std::string withError(const std::string& what, int error, int fd,
                      const std::string& name) {
  std::string text = what + ": " + std::strerror(error);
  if (error != EACCES && error != EPERM) return text;
  struct stat status;
  const int found =
      fd >= 0 ? fstat(fd, &status) : stat(("/dev/shm" + name).c_str(), &status);
  if (found != 0) return text;
  char owner[64];
  std::snprintf(owner, sizeof owner, " (owner uid %u, mode %04o)",
                static_cast<unsigned>(status.st_uid),
                static_cast<unsigned>(status.st_mode & 07777));
  return text + owner;
}

}  // namespace

struct CliUsers_ptr::Impl {
  // Kept open while the table is mapped: the entry locks live on it.
  int descriptor = -1;
  // Bit i: this holder locked entry i.
  unsigned heldEntries = 0;
  std::string cause;
};

CliUsers_ptr::CliUsers_ptr() : address_(nullptr), length_(0) {}

CliUsers_ptr::CliUsers_ptr(char const* name, int size)
    : address_(nullptr), name_(name ? name : ""), length_(size) {
  if (name != nullptr && size > 0) map(name, size);
}

CliUsers_ptr::CliUsers_ptr(CliUsers_ptr& other)
    : address_(other.address_),
      name_(other.name_),
      length_(other.length_),
      impl_(std::move(other.impl_)) {
  other.address_ = nullptr;
}

CliUsers_ptr& CliUsers_ptr::operator=(CliUsers_ptr& other) {
  if (this == &other) return *this;
  release();
  address_ = other.address_;
  name_ = other.name_;
  length_ = other.length_;
  impl_ = std::move(other.impl_);
  other.address_ = nullptr;
  return *this;
}

CliUsers_ptr::~CliUsers_ptr() { release(); }

void CliUsers_ptr::map(char const* name, int size) {
  impl_.reset(new (std::nothrow) Impl);
  if (!impl_) {
    fail("CliUsers_ptr", __LINE__, describe("no memory to open it"));
    return;
  }
  // shm_open sets close-on-exec itself, so CLI children never inherit it.
  int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, kTableMode);
  if (fd < 0) {
    const int createError = errno;
    fd = shm_open(name, O_RDWR, kTableMode);
    if (fd < 0) {
      const int openError = errno;
      // A table that is not there could not be made: that is the cause.
      const bool absent = openError == ENOENT && createError != EEXIST;
      fail("CliUsers_ptr", __LINE__,
           describe(absent ? withError("cannot create", createError, -1, name_)
                           : withError("cannot open", openError, -1, name_)));
      return;
    }
  }
  DescriptorCloser closer(fd);

  struct stat status;
  if (fstat(fd, &status) != 0) {
    const int error = errno;
    fail("CliUsers_ptr", __LINE__,
         describe(withError("cannot stat", error, fd, name_)));
    return;
  }
  // Grow a missing or short table; never shrink one that another program
  // made larger, and never clear one: a new object is already all zero.
  if (status.st_size < size && ftruncate(fd, size) != 0) {
    const int error = errno;
    fail("CliUsers_ptr", __LINE__,
         describe(withError("cannot size to " + std::to_string(size) + " bytes",
                            error, fd, name_)));
    return;
  }

  void* address = mmap(nullptr, static_cast<size_t>(size),
                       PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) {
    const int error = errno;
    fail("CliUsers_ptr", __LINE__,
         describe(withError("cannot map", error, fd, name_)));
    return;
  }
  address_ = static_cast<unsigned char*>(address);
  impl_->descriptor = closer.release();
}

void CliUsers_ptr::release() {
  if (address_ != nullptr) {
    munmap(address_, static_cast<size_t>(length_));
    address_ = nullptr;
  }
  // Closing the descriptor drops every lock taken through it.
  if (impl_ && impl_->descriptor >= 0) {
    ::close(impl_->descriptor);
    impl_->descriptor = -1;
    impl_->heldEntries = 0;
  }
}

void CliUsers_ptr::keep(const std::string& cause) const {
  if (impl_) impl_->cause = cause;
}

const std::string& CliUsers_ptr::cause() const {
  static const std::string kNone;
  return impl_ ? impl_->cause : kNone;
}

void CliUsers_ptr::fail(const char* function, int line,
                        const std::string& cause) const {
  keep(cause);
  QorLogHelper(3, kLogFile, function, line).message(cause);
}

std::string CliUsers_ptr::describe(const std::string& what) const {
  return "CLI user table " + name_ + ": " + what;
}

std::string CliUsers_ptr::describeError(const std::string& what,
                                        int error) const {
  return describe(withError(what, error, impl_->descriptor, name_));
}

bool CliUsers_ptr::intact(const char* function) const {
  struct stat status;
  if (fstat(impl_->descriptor, &status) != 0) {
    const int error = errno;
    fail(function, __LINE__, describeError("cannot stat", error));
    return false;
  }
  if (status.st_size >= length_) return true;
  fail(function, __LINE__,
       describe("is " + std::to_string(status.st_size) +
                " bytes, shorter than the " + std::to_string(length_) +
                " mapped"));
  return false;
}

CliUsers_ptr::LockResult CliUsers_ptr::lockEntry(int i, const char* function) {
  struct flock lock = entryLock(F_WRLCK, i);
  if (fcntl(impl_->descriptor, F_OFD_SETLK, &lock) == 0) {
    impl_->heldEntries |= 1u << i;
    return LockResult::Taken;
  }
  const int error = errno;
  if (isLockConflict(error)) return LockResult::HeldElsewhere;
  fail(function, __LINE__,
       describeError("cannot lock slot " + std::to_string(i), error));
  return LockResult::Failed;
}

void CliUsers_ptr::unlockEntry(int i, const char* function) {
  if (!holdsEntry(i)) return;
  struct flock lock = entryLock(F_UNLCK, i);
  if (fcntl(impl_->descriptor, F_OFD_SETLK, &lock) != 0) {
    const int error = errno;
    // The lock stays until the descriptor is closed; the slot stays held.
    fail(function, __LINE__,
         describeError("cannot unlock slot " + std::to_string(i), error));
    return;
  }
  impl_->heldEntries &= ~(1u << i);
}

bool CliUsers_ptr::holdsEntry(int i) const {
  return impl_ && (impl_->heldEntries & (1u << i)) != 0;
}

bool CliUsers_ptr::lockedElsewhere(int i, const char* function) const {
  // Locks of this holder's own open never show here: they do not conflict
  // with it.
  struct flock lock = entryLock(F_WRLCK, i);
  if (fcntl(impl_->descriptor, F_OFD_GETLK, &lock) != 0) {
    const int error = errno;
    fail(function, __LINE__,
         describeError("cannot test slot " + std::to_string(i), error));
    return false;
  }
  return lock.l_type != F_UNLCK;
}

bool CliUsers_ptr::lockReservations(const char* function) {
  const auto deadline = std::chrono::steady_clock::now() + kReservationWait;
  for (;;) {
    struct flock lock = rangeLock(F_WRLCK, kReservationByte, 1);
    if (fcntl(impl_->descriptor, F_OFD_SETLK, &lock) == 0) return true;
    const int error = errno;
    if (!isLockConflict(error)) {
      fail(function, __LINE__,
           describeError("cannot lock it for a reservation", error));
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      fail(function, __LINE__,
           describe("another host has been reserving a slot for over " +
                    std::to_string(kReservationWait.count()) + " ms"));
      return false;
    }
    // A waiting lock has no deadline: pause in poll, then try again.
    poll(nullptr, 0, kReservationPauseMs);
  }
}

void CliUsers_ptr::unlockReservations(const char* function) {
  struct flock lock = rangeLock(F_UNLCK, kReservationByte, 1);
  if (fcntl(impl_->descriptor, F_OFD_SETLK, &lock) != 0) {
    const int error = errno;
    // The lock stays until the descriptor is closed.
    fail(function, __LINE__,
         describeError("cannot unlock it after a reservation", error));
  }
}

}  // namespace ZUB_DEVICE_MEDIATION
