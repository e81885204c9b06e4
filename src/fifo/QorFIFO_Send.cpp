#include <zubdm/fifo/QorFIFO_Send.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <zubdm/fifo/PipeIo.h>
#include <zubdm/fifo/SigpipeShield.h>

int QorFIFO_Send::open(char const* name, int flags, int perms) {
  return QorFIFO::open(name, flags | O_WRONLY, perms);
}

int QorFIFO_Send::send(void const* buffer, unsigned int count) {
  zubdm::internal::SigpipeShield shield;
  const ssize_t result = zubdm::internal::writePipe(get_handle(), buffer, count);
  if (result < 0) shield.noteWriteFailure(errno);
  return static_cast<int>(result);
}
