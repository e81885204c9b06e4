#ifndef ZUBDM_MEDIATOR_DOCUMENTTAP_H
#define ZUBDM_MEDIATOR_DOCUMENTTAP_H

#include <cstddef>
#include <string_view>

#include <zubdm/result/ShowParser.h>

namespace zubdm {
namespace internal {

// Parses the show document of a reply while the reply arrives: told every
// byte of the reply in order, it finds the first "<SHOW" that starts a line
// after the echo, also when it is split between pieces, and feeds the
// parser from there to "</SHOW>". The parse thus overlaps the CLI's
// writing, and the text is touched while it is in cache. Owns the parser.
// Not thread-safe.
class DocumentTap {
 public:
  // A new reply; with `echo`, its first line is the echo and skipped.
  void start(bool echo);
  // The reply's next bytes.
  void take(std::string_view bytes);
  // The parser when it holds a whole document that began `at` bytes into
  // the reply; null otherwise (the parse is then dropped).
  ShowParser* documentAt(size_t at);
  void abandon() { parser_.abandon(); }

 private:
  ShowParser parser_;
  bool inEcho_ = false;
  bool feeding_ = false;
  // Bytes of the reply taken so far, and where the document began.
  size_t taken_ = 0;
  size_t begin_ = 0;
  // How much of "<SHOW" the last bytes taken, at a line start, matched.
  size_t matched_ = 0;
  bool lineStart_ = true;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_DOCUMENTTAP_H
