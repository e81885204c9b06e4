#ifndef ZUBDM_TESTS_SUPPORT_SHAREDMEMORY_H
#define ZUBDM_TESTS_SUPPORT_SHAREDMEMORY_H

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

// Whole-object access to a POSIX shared-memory object, for tests of the CLI
// user table.
namespace SharedMemory {

// The object's bytes; empty (and `existed` false) when it does not exist.
inline std::vector<unsigned char> read(const std::string& name, bool* existed = nullptr) {
  std::vector<unsigned char> bytes;
  const int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (existed != nullptr) *existed = fd >= 0;
  struct stat status;
  if (fd >= 0 && fstat(fd, &status) == 0 && status.st_size > 0) {
    bytes.resize(static_cast<size_t>(status.st_size));
    if (pread(fd, bytes.data(), bytes.size(), 0) < 0) bytes.clear();
  }
  if (fd >= 0) close(fd);
  return bytes;
}

// Creates the object if needed and replaces its bytes and size; throws
// std::runtime_error when it cannot.
inline void write(const std::string& name, const std::vector<unsigned char>& bytes) {
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot open shared memory " + name);
  const bool ok = ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
                  (bytes.empty() || pwrite(fd, bytes.data(), bytes.size(), 0) ==
                                        static_cast<ssize_t>(bytes.size()));
  close(fd);
  if (!ok) throw std::runtime_error("cannot write shared memory " + name);
}

}  // namespace SharedMemory

#endif  // ZUBDM_TESTS_SUPPORT_SHAREDMEMORY_H
