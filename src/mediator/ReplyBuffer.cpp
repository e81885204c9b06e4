#include <zubdm/mediator/ReplyBuffer.h>

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace zubdm {
namespace internal {

namespace {

const size_t kFirstChunk = size_t{64} << 10;
const size_t kChunk = size_t{1} << 20;

}  // namespace

ReplyBuffer::~ReplyBuffer() { release(chunks_.size()); }

void ReplyBuffer::release(size_t chunks) {
  for (size_t i = 0; i < chunks; ++i) munmap(chunks_[i].data, chunks_[i].capacity);
  chunks_.erase(chunks_.begin(), chunks_.begin() + static_cast<std::ptrdiff_t>(chunks));
}

ReplyBuffer::Room ReplyBuffer::room() {
  if (chunks_.empty() || chunks_.back().used == chunks_.back().capacity) {
    // Mapped, not taken from the heap: a chunk given back leaves the
    // process at once, whatever the allocator keeps.
    const size_t capacity = chunks_.empty() ? kFirstChunk : kChunk;
    void* data = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) return {nullptr, 0};
    try {
      chunks_.push_back({static_cast<char*>(data), capacity, 0});
    } catch (const std::bad_alloc&) {
      munmap(data, capacity);
      return {nullptr, 0};
    }
  }
  const Chunk& last = chunks_.back();
  return {last.data + last.used, last.capacity - last.used};
}

void ReplyBuffer::commit(size_t count) {
  chunks_.back().used += count;
  size_ += count;
}

std::string_view ReplyBuffer::piece(size_t offset) const {
  offset += front_;
  for (const Chunk& chunk : chunks_) {
    if (offset < chunk.used) return std::string_view(chunk.data + offset, chunk.used - offset);
    offset -= chunk.used;
  }
  return std::string_view();
}

std::string ReplyBuffer::copy(size_t from, size_t to) const {
  std::string out;
  for (size_t at = from; at < to;) {
    const std::string_view bytes = piece(at).substr(0, to - at);
    out.append(bytes);
    at += bytes.size();
  }
  return out;
}

void ReplyBuffer::dropFront(size_t count) {
  count = std::min(count, size_);
  size_ -= count;
  front_ += count;
  // Chunks emptied at the front go; the last one is reused from its start.
  size_t emptied = 0;
  while (emptied < chunks_.size() && front_ >= chunks_[emptied].used &&
         (emptied + 1 < chunks_.size() || size_ == 0)) {
    front_ -= chunks_[emptied].used;
    ++emptied;
  }
  if (emptied == chunks_.size() && emptied > 0) {
    // Nothing is left: the last chunk is kept, empty.
    --emptied;
    chunks_.back().used = 0;
    front_ = 0;
  }
  release(emptied);
}

void ReplyBuffer::moveOut(size_t from, size_t to, std::string& out) {
  out.reserve(out.size() + (to - from));
  dropFront(from);
  for (size_t left = to - from; left > 0;) {
    const std::string_view bytes = piece(0).substr(0, left);
    out.append(bytes);
    left -= bytes.size();
    dropFront(bytes.size());
  }
}

void ReplyBuffer::trim() {
  // Once empty, one chunk is left: a large one goes, the first size stays.
  if (size_ == 0 && !chunks_.empty() && chunks_.back().capacity != kFirstChunk) {
    release(chunks_.size());
  }
}

}  // namespace internal
}  // namespace zubdm
