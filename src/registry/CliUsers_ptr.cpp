#include "registry/CliUsers_ptr.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZUB_DEVICE_MEDIATION {

namespace {

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

}  // namespace

CliUsers_ptr::CliUsers_ptr() : address_(nullptr), length_(0) {}

CliUsers_ptr::CliUsers_ptr(char const* name, int size)
    : address_(nullptr), name_(name ? name : ""), length_(size) {
  if (name != nullptr && size > 0) map(name, size);
}

CliUsers_ptr::CliUsers_ptr(CliUsers_ptr& other)
    : address_(other.address_), length_(other.length_) {
  other.address_ = nullptr;
}

CliUsers_ptr& CliUsers_ptr::operator=(CliUsers_ptr& other) {
  if (this == &other) return *this;
  release();
  address_ = other.address_;
  length_ = other.length_;
  other.address_ = nullptr;
  return *this;
}

CliUsers_ptr::~CliUsers_ptr() { release(); }

void CliUsers_ptr::map(char const* name, int size) {
  // shm_open sets close-on-exec itself, so CLI children never inherit it.
  int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, kTableMode);
  if (fd < 0) fd = shm_open(name, O_RDWR, kTableMode);
  if (fd < 0) return;
  DescriptorCloser closer(fd);

  struct stat status;
  if (fstat(fd, &status) != 0) return;
  // Grow a missing or short table; never shrink one that another program
  // made larger, and never clear one: a new object is already all zero.
  if (status.st_size < size && ftruncate(fd, size) != 0) return;

  void* address = mmap(nullptr, static_cast<size_t>(size),
                       PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) return;
  address_ = static_cast<unsigned char*>(address);
}

void CliUsers_ptr::release() {
  if (address_ == nullptr) return;
  munmap(address_, static_cast<size_t>(length_));
  address_ = nullptr;
}

}  // namespace ZUB_DEVICE_MEDIATION
