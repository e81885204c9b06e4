#ifndef ZUBDM_MEDIATOR_REPLYBUFFER_H
#define ZUBDM_MEDIATOR_REPLYBUFFER_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zubdm {
namespace internal {

// The bytes received from the CLI and not yet handed on, in chunks of
// memory mapped for them: the first of 64 KiB, kept from one reply to the
// next, then chunks of 1 MiB. A reply of many MiB is read in place, never
// copied while it grows, and is moved out into the one string that keeps it
// chunk by chunk, each chunk given back to the system once copied: its
// bytes are held once, and about once more only by the chunk in hand.
// Owns the chunks. Not thread-safe.
class ReplyBuffer {
 public:
  ReplyBuffer() = default;
  ~ReplyBuffer();
  ReplyBuffer(const ReplyBuffer&) = delete;
  ReplyBuffer& operator=(const ReplyBuffer&) = delete;

  struct Room {
    char* data;
    size_t size;
  };

  size_t size() const { return size_; }
  // Where the next bytes go: contiguous room after size(), at least one
  // byte; size 0 when memory runs out.
  Room room();
  // The first `count` bytes of room() now hold data.
  void commit(size_t count);
  // The bytes from `offset` to the end of the chunk that holds them.
  std::string_view piece(size_t offset) const;
  // Bytes [from, to) copied into a string.
  std::string copy(size_t from, size_t to) const;
  // Drops the first `count` bytes.
  void dropFront(size_t count);
  void clear() { dropFront(size_); }
  // Appends bytes [from, to) to `out`, giving back each chunk once it is
  // copied, and drops the first `to` bytes. Throws std::bad_alloc (nothing
  // dropped then) when `out` cannot hold them.
  void moveOut(size_t from, size_t to, std::string& out);
  // Gives back every chunk but the first while they hold nothing.
  void trim();

 private:
  struct Chunk {
    char* data;
    size_t capacity;
    size_t used;
  };
  void release(size_t chunks);

  std::vector<Chunk> chunks_;
  // Bytes of the first chunk already dropped.
  size_t front_ = 0;
  size_t size_ = 0;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_REPLYBUFFER_H
