#include <zubdm/mediator/ReplyBuffer.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zubdm {
namespace internal {

namespace {
const size_t kFirstCapacity = 8192;
}  // namespace

ReplyBuffer::~ReplyBuffer() { std::free(data_); }

char* ReplyBuffer::spare(size_t count) {
  if (count <= capacity_ - size_) return data_ + size_;
  if (count > SIZE_MAX / 2 - size_) return nullptr;
  size_t capacity = capacity_ < kFirstCapacity ? kFirstCapacity : capacity_;
  while (capacity - size_ < count) capacity *= 2;
  void* grown = std::realloc(data_, capacity);
  if (grown == nullptr) return nullptr;
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
  return data_ + size_;
}

void ReplyBuffer::dropFront(size_t count) {
  if (count >= size_) {
    size_ = 0;
    return;
  }
  std::memmove(data_, data_ + count, size_ - count);
  size_ -= count;
}

void ReplyBuffer::trim() {
  if (capacity_ <= KEPT_CAPACITY || size_ > kFirstCapacity) return;
  void* smaller = std::malloc(kFirstCapacity);
  if (smaller == nullptr) return;
  if (size_ > 0) std::memcpy(smaller, data_, size_);
  std::free(data_);
  data_ = static_cast<char*>(smaller);
  capacity_ = kFirstCapacity;
}

}  // namespace internal
}  // namespace zubdm
