#ifndef ZUBDM_MEDIATOR_PROMPTMATCHER_H
#define ZUBDM_MEDIATOR_PROMPTMATCHER_H

#include <cstddef>
#include <string_view>
#include <vector>

namespace zubdm {
namespace internal {

// Finds a literal text in a byte stream that arrives in pieces. Every
// occurrence is seen, also one that starts inside a partial match that
// failed ("]]>" in "]]]>"): after a mismatch the match goes on from the
// longest start of the text that the bytes seen end with.
//
// Works on the caller's buffer in place: memchr finds candidate starts, and
// only the bytes after one are compared one by one.
class PromptMatcher {
 public:
  // `pattern` is a non-empty literal that outlives the matcher. Throws
  // std::bad_alloc when memory runs out.
  explicit PromptMatcher(const char* pattern);

  // Scans `data[0, length)` and returns the bytes consumed: up to and
  // including the byte that completes the text (matched() is then true),
  // or all of them. State carries over to the next piece.
  size_t feed(const char* data, size_t length);
  bool matched() const { return progress_ == pattern_.size(); }

 private:
  std::string_view pattern_;
  // fallback_[i]: the length of the longest proper start of the text that
  // is also an end of its first i + 1 bytes.
  std::vector<size_t> fallback_;
  size_t progress_;  // pattern bytes matched so far
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_PROMPTMATCHER_H
