#ifndef ZUBDM_COMMON_LINETEXT_H
#define ZUBDM_COMMON_LINETEXT_H

#include <string>
#include <string_view>

namespace zubdm {
namespace internal {

// `text` in double quotes, with "\n", "\r", NUL and other control bytes,
// quotes and backslashes escaped, for messages about such text.
std::string quoted(std::string_view text);

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_COMMON_LINETEXT_H
