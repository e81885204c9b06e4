#ifndef ZUBDM_FIFO_QORFIFO_SEND_H
#define ZUBDM_FIFO_QORFIFO_SEND_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/fifo/QorFIFO.h>

// Writing end of a named pipe.
//
// send() never lets SIGPIPE reach the process: a write to a pipe whose reader
// has gone returns -1 with errno EPIPE (SIGPIPE is blocked on the calling thread for the write and consumed). Not thread-safe.
class ZUBDM_EXPORT QorFIFO_Send : public QorFIFO {
 public:
  QorFIFO_Send() = default;
  QorFIFO_Send(char const* name, int perms) : QorFIFO(name, perms) {}

  // QorFIFO::open with O_WRONLY added to `flags`.
  int open(char const* name, int flags, int perms);
  int create(char const* name, int perms) { return QorFIFO::create(name, perms); }

  // One write(2) of `count` bytes (restarted only when a signal interrupted
  // it before anything was written): the bytes written, or -1 with errno set.
  int send(void const* buffer, unsigned int count);
};

#endif  // ZUBDM_FIFO_QORFIFO_SEND_H
