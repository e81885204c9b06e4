#ifndef ZUBDM_MEDIATOR_REPLYBUFFER_H
#define ZUBDM_MEDIATOR_REPLYBUFFER_H

#include <cstddef>

namespace ZUB_DEVICE_MEDIATION {

// The bytes of the reply being read.
//
// Small replies, the usual case, reuse memory kept from one reply to the
// next. A large one grows in a mapping of huge pages whose pages are moved,
// not copied, when it grows (mremap), so a reply of many MiB is written once
// and faulted in 2 MiB at a time; clear() gives such memory back.
//
// Not thread-safe. Owns its memory.
class ReplyBuffer {
 public:
  ReplyBuffer();
  ~ReplyBuffer();
  ReplyBuffer(const ReplyBuffer&) = delete;
  ReplyBuffer& operator=(const ReplyBuffer&) = delete;

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  // Appends `count` bytes; throws std::bad_alloc when memory runs out, as a
  // std::string would.
  void append(const char* bytes, size_t count);
  // Empties the buffer, keeping memory only up to KEPT_CAPACITY.
  void clear();

  // Capacity kept from one reply to the next.
  static constexpr size_t KEPT_CAPACITY = size_t{1} << 20;

 private:
  void reserve(size_t needed);
  void release();

  char* data_;
  size_t size_;
  size_t capacity_;
  bool mapped_;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_MEDIATOR_REPLYBUFFER_H
