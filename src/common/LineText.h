#ifndef ZUBDM_COMMON_LINETEXT_H
#define ZUBDM_COMMON_LINETEXT_H

#include <string>
#include <string_view>

namespace zubdm {
namespace internal {

// Whether `text` can go to the CLI as one line: it holds no "\n", "\r" or
// NUL, any of which would let it end the line early and run a second
// command that nobody asked for.
bool isOneLine(std::string_view text);

inline bool isBlank(char byte) { return byte == ' ' || byte == '\t'; }
inline bool isLineEnd(char byte) { return byte == '\n' || byte == '\r'; }

// `text` in double quotes, with "\n", "\r", NUL and other control bytes,
// quotes and backslashes escaped, for messages about such text.
std::string quoted(std::string_view text);

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_COMMON_LINETEXT_H
