#ifndef ZUBDM_COMMON_TEXTSEARCH_H
#define ZUBDM_COMMON_TEXTSEARCH_H

#include <string.h>

#include <cstddef>
#include <string_view>

namespace zubdm {
namespace internal {

// The first occurrence of `needle` in `text` at or after `from`, or npos.
//
// memmem, not std::string_view::find: in large show output the needle's
// first character ("<", "E", "H") occurs every few bytes, and find() then
// compares at every one of them.
inline size_t findText(std::string_view text, std::string_view needle,
                       size_t from = 0) {
  if (from > text.size()) return std::string_view::npos;
  const void* found = memmem(text.data() + from, text.size() - from,
                             needle.data(), needle.size());
  if (found == nullptr) return std::string_view::npos;
  return static_cast<size_t>(static_cast<const char*>(found) - text.data());
}

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_COMMON_TEXTSEARCH_H
