#include <zubdm/mediator/PromptMatcher.h>

#include <cassert>
#include <cstring>

namespace zubdm {
namespace internal {

PromptMatcher::PromptMatcher(const char* pattern)
    : pattern_(pattern), fallback_(pattern_.size(), 0), progress_(0) {
  assert(!pattern_.empty());
  for (size_t i = 1, k = 0; i < pattern_.size(); ++i) {
    while (k > 0 && pattern_[i] != pattern_[k]) k = fallback_[k - 1];
    if (pattern_[i] == pattern_[k]) ++k;
    fallback_[i] = k;
  }
}

size_t PromptMatcher::feed(const char* data, size_t length) {
  size_t i = 0;
  while (i < length && !matched()) {
    if (progress_ == 0) {
      const void* start = std::memchr(data + i, pattern_[0], length - i);
      if (start == nullptr) return length;
      i = static_cast<size_t>(static_cast<const char*>(start) - data) + 1;
      progress_ = 1;
      continue;
    }
    const char byte = data[i++];
    while (progress_ > 0 && byte != pattern_[progress_]) {
      progress_ = fallback_[progress_ - 1];
    }
    if (byte == pattern_[progress_]) ++progress_;
  }
  return i;
}

}  // namespace internal
}  // namespace zubdm
