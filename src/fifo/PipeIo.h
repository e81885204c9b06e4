#ifndef ZUBDM_FIFO_PIPEIO_H
#define ZUBDM_FIFO_PIPEIO_H

#include <sys/types.h>

#include <cstddef>

namespace zubdm {
namespace internal {

// The one read and the one write of a pipe descriptor, for the pipe
// endpoints and the mediator alike: read(2) and write(2) restarted when a
// signal interrupted them before any byte moved. The result and errno are
// the system call's.
ssize_t readPipe(int fd, void* buffer, size_t count);
ssize_t writePipe(int fd, const void* buffer, size_t count);

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_FIFO_PIPEIO_H
