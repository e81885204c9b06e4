#ifndef ZUBDM_FIFO_QORFIFO_RECV_H
#define ZUBDM_FIFO_QORFIFO_RECV_H

#include <zubdm/ZubdmExport.h>
#include <zubdm/fifo/QorFIFO.h>

// Receiving end of a named pipe, with a 1024-byte read-ahead buffer so that
// byte-at-a-time readers cost a copy, not a system call.
//
// Not thread-safe: its owner serialises use. Owns its descriptor and, through
// remove(), the pipe's directory entry.
class ZUBDM_EXPORT QorFIFO_Recv : public QorFIFO {
 public:
  static constexpr int BUFFER_SIZE = 1024;

  QorFIFO_Recv();
  QorFIFO_Recv(char const* name, int perms);

  // Opens like QorFIFO::open (O_NONBLOCK makes the open itself return at
  // once) and then leaves the descriptor in blocking mode. 0 or -1.
  int open(char const* name, int flags, int perms);
  int create(char const* name, int perms) { return QorFIFO::create(name, perms); }

  // Returns the bytes delivered (at most `count`), 0 at end of file, or -1
  // with errno set by read(2). Reads again after end of file or an error.
  int recv(void* buffer, unsigned int count);

  // Unread bytes held in the buffer.
  int buffered() const { return valid_ > position_ ? valid_ - position_ : 0; }

 private:
  char buffer_[BUFFER_SIZE];
  int position_;
  int valid_;
};

#endif  // ZUBDM_FIFO_QORFIFO_RECV_H
