#ifndef ZUBDM_TESTS_SUPPORT_USERTABLEGUARD_H
#define ZUBDM_TESTS_SUPPORT_USERTABLEGUARD_H

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

#include "support/SharedMemory.h"

// Saves the machine's CLI user table ("/shmem_cl_users") and restores it, size
// and bytes, when it goes out of scope (removing it if it did not exist).
// While in scope the table holds 1740 zero bytes unless `clear` is false.
//
// Also holds a machine-wide lock while in scope, so that test runs from
// different checkouts never use the table and the /tmp/clPipe* names at once.
class UserTableGuard {
 public:
  static constexpr const char* NAME = "/shmem_cl_users";
  static const int SIZE = 1740;

  explicit UserTableGuard(bool clear = true) : lock_(takeMachineLock()) {
    saved_ = SharedMemory::read(NAME, &existed_);
    if (clear) write(std::vector<unsigned char>(SIZE, 0));
  }
  ~UserTableGuard() {
    existed_ ? write(saved_) : (void)shm_unlink(NAME);
    close(lock_);
  }
  UserTableGuard(const UserTableGuard&) = delete;
  UserTableGuard& operator=(const UserTableGuard&) = delete;

  // The current bytes of the table (its whole size).
  std::vector<unsigned char> read() const { return SharedMemory::read(NAME); }
  // Replaces the table's bytes (and size) with `bytes`.
  void write(const std::vector<unsigned char>& bytes) const { SharedMemory::write(NAME, bytes); }

 private:
  // An abstract socket name can be bound by one process at a time and is
  // released when its descriptor closes, even on a crash; no file is left.
  static int takeMachineLock() {
    const char name[] = "zubdm-machine-global-test-lock";
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name, sizeof name - 1);
    const socklen_t length = offsetof(struct sockaddr_un, sun_path) + sizeof name;
    for (;;) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd < 0) throw std::runtime_error("socket failed");
      if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), length) == 0) return fd;
      close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  int lock_;
  bool existed_ = false;
  std::vector<unsigned char> saved_;
};

#endif  // ZUBDM_TESTS_SUPPORT_USERTABLEGUARD_H
