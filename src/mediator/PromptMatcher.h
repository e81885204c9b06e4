#ifndef ZUBDM_MEDIATOR_PROMPTMATCHER_H
#define ZUBDM_MEDIATOR_PROMPTMATCHER_H

#include <cstddef>

namespace zubdm {
namespace internal {

// Finds a literal text in a byte stream that arrives in pieces, with
// first-character restart matching: after a mismatch the scan starts again
// at the mismatching byte when it equals the text's first character,
// otherwise after it. An occurrence that starts inside a failed partial match
// is not seen; for texts whose first character occurs only at their start
// ("Login:", "Password:", "HVB", "#") nothing is missed.
//
// Works on the caller's buffer in place: memchr finds candidate starts, and
// only the bytes after one are compared one by one.
class PromptMatcher {
 public:
  // `pattern` is a non-empty literal that outlives the matcher.
  explicit PromptMatcher(const char* pattern);

  // Scans `data[0, length)` and returns the bytes consumed: up to and
  // including the byte that completes the text (matched() is then true),
  // or all of them. State carries over to the next piece.
  size_t feed(const char* data, size_t length);
  bool matched() const { return matched_; }
  // Starts a new search.
  void reset() {
    progress_ = 0;
    matched_ = false;
  }

 private:
  const char* pattern_;
  size_t patternLength_;
  size_t progress_;  // pattern bytes matched so far
  bool matched_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_PROMPTMATCHER_H
