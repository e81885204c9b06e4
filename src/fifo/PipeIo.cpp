#include <zubdm/fifo/PipeIo.h>

#include <unistd.h>

#include <cerrno>

namespace zubdm {
namespace internal {

ssize_t readPipe(int fd, void* buffer, size_t count) {
  ssize_t result;
  do {
    result = ::read(fd, buffer, count);
  } while (result < 0 && errno == EINTR);
  return result;
}

ssize_t writePipe(int fd, const void* buffer, size_t count) {
  ssize_t result;
  do {
    result = ::write(fd, buffer, count);
  } while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace internal
}  // namespace zubdm
