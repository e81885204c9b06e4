#include "mediator/ReplyBuffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "host/HugePageMemory.h"

namespace ZUB_DEVICE_MEDIATION {

namespace {
const size_t kFirstCapacity = 8192;
}  // namespace

ReplyBuffer::ReplyBuffer()
    : data_(nullptr), size_(0), capacity_(0), mapped_(false) {}

ReplyBuffer::~ReplyBuffer() { release(); }

void ReplyBuffer::append(const char* bytes, size_t count) {
  if (count == 0) return;
  if (count > capacity_ - size_) reserve(size_ + count);
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

void ReplyBuffer::clear() {
  size_ = 0;
  if (capacity_ > KEPT_CAPACITY) release();
}

void ReplyBuffer::release() {
  if (mapped_) {
    unmapHugePages(data_, capacity_);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  capacity_ = 0;
  mapped_ = false;
}

void ReplyBuffer::reserve(size_t needed) {
  if (needed < size_) throw std::bad_alloc();  // size overflowed
  size_t capacity = std::max(kFirstCapacity, capacity_);
  while (capacity < needed) {
    if (capacity > SIZE_MAX / 2) throw std::bad_alloc();
    capacity *= 2;
  }
  if (capacity < HUGE_PAGE_SIZE) {
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
    return;
  }
  capacity = hugePageMappingSize(capacity);
  void* grown = mapHugePages(capacity);
  if (grown == nullptr) throw std::bad_alloc();
  if (mapped_) {
    // The pages already written move into the front of the new mapping;
    // both ends are huge-page aligned, so huge pages move whole.
    const size_t length = hugePageMappingSize(capacity_);
    if (mremap(data_, length, length, MREMAP_MAYMOVE | MREMAP_FIXED, grown) ==
        MAP_FAILED) {
      std::memcpy(grown, data_, size_);
      unmapHugePages(data_, capacity_);
    }
  } else {
    // memcpy must not see the null pointer of a buffer never grown.
    if (size_ > 0) std::memcpy(grown, data_, size_);
    std::free(data_);
  }
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
  mapped_ = true;
}

}  // namespace ZUB_DEVICE_MEDIATION
