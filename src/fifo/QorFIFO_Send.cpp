#include "fifo/QorFIFO_Send.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "fifo/SigpipeShield.h"

int QorFIFO_Send::open(char const* name, int flags, int perms) {
  return QorFIFO::open(name, flags | O_WRONLY, perms);
}

int QorFIFO_Send::send(void const* buffer, unsigned int count) {
  zubdm::internal::SigpipeShield shield;
  ssize_t result;
  do {
    result = write(get_handle(), buffer, count);
  } while (result < 0 && errno == EINTR);
  if (result < 0) shield.noteWriteFailure(errno);
  return static_cast<int>(result);
}
