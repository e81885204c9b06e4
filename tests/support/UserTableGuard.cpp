#include "support/UserTableGuard.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

const char* const UserTableGuard::NAME = "/shmem_cl_users";

namespace {

std::vector<unsigned char> readObject(bool& existed) {
  std::vector<unsigned char> bytes;
  const int fd = shm_open(UserTableGuard::NAME, O_RDONLY, 0);
  existed = fd >= 0;
  if (fd < 0) return bytes;
  struct stat status;
  if (fstat(fd, &status) == 0 && status.st_size > 0) {
    bytes.resize(static_cast<size_t>(status.st_size));
    if (pread(fd, bytes.data(), bytes.size(), 0) < 0) bytes.clear();
  }
  close(fd);
  return bytes;
}

}  // namespace

UserTableGuard::UserTableGuard(bool clear) : existed_(false) {
  saved_ = readObject(existed_);
  if (clear) write(std::vector<unsigned char>(SIZE, 0));
}

UserTableGuard::~UserTableGuard() {
  if (existed_) {
    write(saved_);
  } else {
    remove();
  }
}

std::vector<unsigned char> UserTableGuard::read() const {
  bool existed = false;
  return readObject(existed);
}

void UserTableGuard::write(const std::vector<unsigned char>& bytes) const {
  const int fd = shm_open(NAME, O_RDWR | O_CREAT, 0777);
  if (fd < 0) throw std::runtime_error("cannot open the CLI user table");
  const bool ok = ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
                  (bytes.empty() ||
                   pwrite(fd, bytes.data(), bytes.size(), 0) ==
                       static_cast<ssize_t>(bytes.size()));
  close(fd);
  if (!ok) throw std::runtime_error("cannot write the CLI user table");
}

void UserTableGuard::remove() const { shm_unlink(NAME); }
