#include "mediator/PromptMatcher.h"

#include <cassert>
#include <cstring>

namespace zubdm {
namespace internal {

PromptMatcher::PromptMatcher(const char* pattern)
    : pattern_(pattern),
      patternLength_(std::strlen(pattern)),
      progress_(0),
      matched_(false) {
  assert(patternLength_ > 0);
}

size_t PromptMatcher::feed(const char* data, size_t length) {
  size_t i = 0;
  while (i < length && !matched_) {
    if (progress_ == 0) {
      const void* start = std::memchr(data + i, pattern_[0], length - i);
      if (start == nullptr) return length;
      i = static_cast<size_t>(static_cast<const char*>(start) - data) + 1;
      progress_ = 1;
    } else {
      const char byte = data[i++];
      if (byte == pattern_[progress_]) {
        ++progress_;
      } else {
        progress_ = byte == pattern_[0] ? 1 : 0;
      }
    }
    if (progress_ == patternLength_) matched_ = true;
  }
  return i;
}

}  // namespace internal
}  // namespace zubdm
