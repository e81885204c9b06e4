#include "support/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace SharedMemory {

std::vector<unsigned char> read(const std::string& name, bool* existed) {
  std::vector<unsigned char> bytes;
  const int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (existed != nullptr) *existed = fd >= 0;
  if (fd < 0) return bytes;
  struct stat status;
  if (fstat(fd, &status) == 0 && status.st_size > 0) {
    bytes.resize(static_cast<size_t>(status.st_size));
    if (pread(fd, bytes.data(), bytes.size(), 0) < 0) bytes.clear();
  }
  close(fd);
  return bytes;
}

void write(const std::string& name, const std::vector<unsigned char>& bytes) {
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) throw std::runtime_error("cannot open shared memory " + name);
  const bool ok = ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
                  (bytes.empty() || pwrite(fd, bytes.data(), bytes.size(), 0) ==
                                        static_cast<ssize_t>(bytes.size()));
  close(fd);
  if (!ok) throw std::runtime_error("cannot write shared memory " + name);
}

}  // namespace SharedMemory
