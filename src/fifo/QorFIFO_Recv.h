#ifndef ZUBDM_FIFO_QORFIFO_RECV_H
#define ZUBDM_FIFO_QORFIFO_RECV_H

#include "fifo/QorFIFO.h"

// Receiving end of a named pipe, with a 1024-byte read-ahead buffer so that
// byte-at-a-time readers cost a copy, not a system call. Readers that scan
// for a pattern can work on the buffered bytes in place (buffered_data(),
// consume(), fill()).
//
// Not thread-safe: its owner serialises use. Owns its descriptor and, through
// remove(), the pipe's directory entry.
class QorFIFO_Recv : public QorFIFO {
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

  // Unread bytes held in the buffer, and where they start.
  int buffered() const { return valid_ > position_ ? valid_ - position_ : 0; }
  const char* buffered_data() const { return buffer_ + position_; }
  // Marks `count` buffered bytes (at most buffered()) as read.
  void consume(int count) { position_ += count; }
  // Refills the empty buffer with one read(2): the bytes read, 0 at end of
  // file, or -1 with errno set. Precondition: buffered() is 0.
  int fill();
  // For a read made elsewhere (one submitted along with other I/O): where it
  // puts its bytes while the buffer is empty, and how many it put there.
  char* fill_area() { return buffer_; }
  void filled(int count) {
    position_ = 0;
    valid_ = count;
  }
  // Drops the buffered bytes (a new peer must not see an old one's rest).
  void discard_buffer() { position_ = valid_ = 0; }

 private:
  // Zeroed once: reads submitted through io_uring fill it out of sight of
  // memory checkers, which must not take its bytes for uninitialised.
  char buffer_[BUFFER_SIZE] = {};
  int position_;
  int valid_;
};

#endif  // ZUBDM_FIFO_QORFIFO_RECV_H
