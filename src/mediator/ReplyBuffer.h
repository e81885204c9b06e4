#ifndef ZUBDM_MEDIATOR_REPLYBUFFER_H
#define ZUBDM_MEDIATOR_REPLYBUFFER_H

#include <cstddef>

namespace zubdm {
namespace internal {

// The bytes received from the CLI and not yet handed on, read in place.
//
// Grows with realloc, which moves a large block's pages instead of copying
// them, so a reply of many MiB is written once; memory up to KEPT_CAPACITY
// is kept from one reply to the next, more is given back by trim().
// Ordinary heap memory; owns it. Not thread-safe.
class ReplyBuffer {
 public:
  static constexpr size_t KEPT_CAPACITY = size_t{4} << 20;

  ReplyBuffer() = default;
  ~ReplyBuffer();
  ReplyBuffer(const ReplyBuffer&) = delete;
  ReplyBuffer& operator=(const ReplyBuffer&) = delete;

  char* data() const { return data_; }
  size_t size() const { return size_; }
  // Room for `count` more bytes after size(), where a read can put them;
  // null when memory runs out.
  char* spare(size_t count);
  // The next `count` bytes of the spare room now hold data.
  void commit(size_t count) { size_ += count; }
  // Drops the first `count` bytes; the rest moves to the front.
  void dropFront(size_t count);
  void clear() { size_ = 0; }
  // Gives back memory beyond KEPT_CAPACITY when what is held fits in it.
  void trim();

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_REPLYBUFFER_H
