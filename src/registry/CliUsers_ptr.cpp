#include "registry/CliUsers_ptr.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/QorLogHelper.h"

namespace ZUB_DEVICE_MEDIATION {

namespace {

const char kLogFile[] = "CliUsers_ptr";
// The element's programs all open the table with these permissions.
const mode_t kTableMode = 0777;

// Closes the descriptor on every way out of map().
class DescriptorCloser {
 public:
  explicit DescriptorCloser(int fd) : fd_(fd) {}
  ~DescriptorCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  DescriptorCloser(const DescriptorCloser&) = delete;
  DescriptorCloser& operator=(const DescriptorCloser&) = delete;

 private:
  int fd_;
};

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
}

void CliUsers_ptr::release() {
  if (address_ == nullptr) return;
  munmap(address_, static_cast<size_t>(length_));
  address_ = nullptr;
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

}  // namespace ZUB_DEVICE_MEDIATION
