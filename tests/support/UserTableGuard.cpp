#include "support/UserTableGuard.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "support/SharedMemory.h"

const char* const UserTableGuard::NAME = "/shmem_cl_users";

namespace {

// An abstract socket name can be bound by one process at a time and is
// released when its descriptor closes, even on a crash; no file is left.
int takeMachineLock() {
  const char name[] = "zubdm-machine-global-test-lock";
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name, sizeof name - 1);
  const socklen_t length =
      static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + sizeof name);
  for (;;) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), length) == 0) return fd;
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

UserTableGuard::UserTableGuard(bool clear) : lock_(takeMachineLock()), existed_(false) {
  saved_ = SharedMemory::read(NAME, &existed_);
  if (clear) write(std::vector<unsigned char>(SIZE, 0));
}

UserTableGuard::~UserTableGuard() {
  if (existed_) {
    write(saved_);
  } else {
    remove();
  }
  close(lock_);
}

std::vector<unsigned char> UserTableGuard::read() const {
  return SharedMemory::read(NAME);
}

void UserTableGuard::write(const std::vector<unsigned char>& bytes) const {
  SharedMemory::write(NAME, bytes);
}

void UserTableGuard::remove() const { shm_unlink(NAME); }
