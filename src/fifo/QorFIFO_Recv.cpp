#include <zubdm/fifo/QorFIFO_Recv.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <zubdm/fifo/PipeIo.h>

QorFIFO_Recv::QorFIFO_Recv() : position_(0), valid_(0) {}

QorFIFO_Recv::QorFIFO_Recv(char const* name, int perms)
    : QorFIFO(name, perms), position_(0), valid_(0) {}

int QorFIFO_Recv::open(char const* name, int flags, int perms) {
  if (QorFIFO::open(name, flags, perms) == -1) return -1;
  if (disable(O_NONBLOCK) == -1) return -1;
  return get_handle() == -1 ? -1 : 0;
}

int QorFIFO_Recv::recv(void* buffer, unsigned int count) {
  if (position_ >= valid_) {
    position_ = 0;
    valid_ = static_cast<int>(zubdm::internal::readPipe(get_handle(), buffer_, BUFFER_SIZE));
    if (valid_ < 0) return -1;
  }
  const int available = valid_ - position_;
  const int take =
      count < static_cast<unsigned int>(available) ? static_cast<int>(count)
                                                   : available;
  if (take > 0) {
    std::memcpy(buffer, buffer_ + position_, static_cast<size_t>(take));
    position_ += take;
  }
  return take;
}
