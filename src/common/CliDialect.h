#ifndef ZUBDM_COMMON_CLIDIALECT_H
#define ZUBDM_COMMON_CLIDIALECT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zubdm {
namespace internal {

// The conventions of the element's CLI, each written here once and read
// from here by the reply reader, the classifier, the driver, the context
// table and the zubdm command.
namespace dialect {

// A prompt: "HVB", at most kMaxPromptBody bytes that are neither blanks,
// line ends nor "#", then "#" ("HVB#", "HVB(config-if)#").
constexpr std::string_view kPromptStart = "HVB";
constexpr char kPromptEnd = '#';
constexpr std::size_t kMaxPromptBody = 64;

// The command that leads back to the root mode from any mode, and the
// prompt the CLI shows there.
constexpr char kRootCommand[] = "end";
constexpr std::string_view kRootPrompt = "HVB#";

// What ends every line the CLI is sent.
constexpr std::string_view kLineEnd = "\n\r";

// The login: the prompts and the answers (which end in "\r\n").
constexpr char kLoginPrompt[] = "Login:";
constexpr char kPasswordPrompt[] = "Password:";
constexpr char kUser[] = "root\r\n";
constexpr char kPassword[] = "tquvz\r\n";

// Show output: a document from "<SHOW" to "</SHOW>".
constexpr std::string_view kShowStart = "<SHOW";
constexpr std::string_view kShowEnd = "</SHOW>";

// A device error: the text from "Error:" up to the prompt.
constexpr std::string_view kErrorMarker = "Error:";

inline bool isBlank(char byte) { return byte == ' ' || byte == '\t'; }
inline bool isLineEnd(char byte) { return byte == '\n' || byte == '\r'; }
inline bool isPromptBody(char byte) {
  return !isBlank(byte) && !isLineEnd(byte) && byte != kPromptEnd;
}

// Whether `text` can go to the CLI as one line: it holds no "\n", "\r" or
// NUL, any of which would let it end the line early and run a second
// command that nobody asked for.
inline bool isOneLine(std::string_view text) {
  return text.find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos;
}

// Replies are classified by lines: a line starts at the start of the text
// given (the first byte after the echo) or after "\n". The first `marker`
// at a line start, at or after `from`; npos when there is none.
size_t atLineStart(std::string_view text, std::string_view marker, size_t from = 0);

// Where a show document begins ("<SHOW" at a line start) and ends (after
// the first "</SHOW>" behind it, or the end of the text when it is cut
// short); both npos when there is none.
struct Span {
  size_t begin;
  size_t end;
};
Span showDocument(std::string_view output);
// Where it begins alone, without looking for its end.
size_t showStart(std::string_view output);

// A CLI that echoes begins each reply with the line as it was written, or
// the line without its leading command number and blank, then "\r\n" or
// "\n": the echo's length, or npos when `reply` does not begin so.
size_t echoLength(std::string_view reply, std::string_view line);
// Whether `reply` begins instead with a line that is a proper start of
// either: what a CLI echoes of a line whose rest it took for an editing key
// (a "?" for help, a tab).
bool echoedInPart(std::string_view reply, std::string_view line);

// The length of the prompt-shaped text that begins `line` ("HVB...#"), 0
// when it does not begin with one.
inline size_t promptLength(std::string_view line) {
  if (line.substr(0, kPromptStart.size()) != kPromptStart) return 0;
  for (size_t at = kPromptStart.size(); at < line.size() && at <= kPromptStart.size() + kMaxPromptBody;
       ++at) {
    if (line[at] == kPromptEnd) return at + 1;
    if (!isPromptBody(line[at])) return 0;
  }
  return 0;
}

}  // namespace dialect

// The conventions one connection is told: the line prefixes that mark a
// device error besides "Error:". Not thread-safe.
class CliDialect {
 public:
  // Replaces the host's prefixes; false (nothing changed) for an empty one
  // or one holding a control byte.
  bool setErrorPrefixes(const std::vector<std::string>& prefixes);

  // Where the device's error begins in `output` (text before the prompt,
  // after the echo): the first line outside its show document that starts
  // with "Error:" or one of the host's prefixes; npos when none does.
  size_t errorStart(std::string_view output) const;

 private:
  std::vector<std::string> errorPrefixes_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_COMMON_CLIDIALECT_H
