#ifndef ZUBDM_HOST_DOMPIECEPARSER_H
#define ZUBDM_HOST_DOMPIECEPARSER_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <zubdm/host/Node.h>

namespace TAV {
namespace XML {
class DOMDocument;
}  // namespace XML
}  // namespace TAV

struct XML_ParserStruct;

namespace zubdm {
namespace internal {

// Why a parse failed: what went wrong and, unless memory ran out, where
// (line and column of the input, counted from 1, in bytes).
struct DOMParseFailure {
  const char* reason = nullptr;  // a static text; null while nothing failed
  bool outOfMemory = false;
  unsigned long line = 0;
  unsigned long column = 0;

  // "REASON at line L, column C", or "out of memory". Throws std::bad_alloc
  // when memory runs out.
  std::string text() const;
};

// Parses one XML document fed in pieces of any size, as they arrive, into a
// DOMDocument (DOMBuilder and ShowParser drive it).
//
// Input is untrusted: a document type declaration is refused as a whole, so
// no entity is ever declared, expanded or loaded from outside; nesting
// depth is bounded by memory only (nothing recurses); text made only of
// blanks, tabs and line ends is not kept. Memory running out fails the
// parse like a malformed document, and nothing is thrown.
//
// Each piece goes to libexpat in one call (a few for pieces over a
// gigabyte), which copies it into a buffer of its own: the caller's piece
// size bounds that buffer (a piece of the whole document makes it hold the
// document a second time), and the call that carries the end is the fast
// one (libexpat tracks line numbers only for input that may be followed by
// more). A call that is not the last ends after a blank, a line feed or a
// '>' (never inside a CR LF, which libexpat would count twice), so that
// no token begins in it that the next piece would finish: libexpat judges
// some such tokens (after the root element) by what it has of them, and its
// verdict would depend on where pieces end. For the same reason the first
// call carries the first four bytes, by which libexpat tells the encoding. The bytes after that place are
// held for the next call. Pieces are also held until they are at least as
// long as a token libexpat keeps unfinished, which it reads again from its
// start on every call: a long token fed in small pieces costs linear time.
// So the same bytes, however they are cut, give the same document or the
// same failure.
//
// Holds the parser, the document under construction and its pending text
// until finish() or abandon(). Not thread-safe; not copyable.
class DOMPieceParser {
 public:
  DOMPieceParser() noexcept;
  ~DOMPieceParser();
  DOMPieceParser(const DOMPieceParser&) = delete;
  DOMPieceParser& operator=(const DOMPieceParser&) = delete;

  // Parses the next `size` bytes of the document; `last` says that the
  // document ends with them. Returns false when the parse has failed, now or
  // earlier (failure() says why); the bytes are then ignored, as are bytes
  // after the last ones.
  bool feed(const char* data, std::size_t size, bool last = false) noexcept;

  // Ends the document with the bytes fed so far and returns its document
  // node (type DOCUMENT_NODE) with one reference for the caller; null when
  // the parse failed (failure() says why until the next feed or abandon()).
  // A later feed starts a new document.
  TAV::XML::Node* finish() noexcept;

  // Drops whatever was parsed and the failure, freeing their memory: the
  // parser is as new.
  void abandon() noexcept;

  // With `on`, documents from now on borrow values and texts that libexpat
  // gives unchanged (no reference in them, no line end or tab made a
  // blank) and that are not short: they hold the place of the bytes in the
  // input, counted from its first byte, instead of a copy, and are read
  // once the input is lent to them (DOMDocument::lendFrom). Stays so
  // across abandon().
  void borrowValues(bool on) { borrow_ = on; }

  bool failed() const { return failure_.reason != nullptr; }
  const DOMParseFailure& failure() const { return failure_; }

 private:
  struct Handlers;

  bool start() noexcept;
  // Gives libexpat the held bytes and the first `size` of `data`, in one
  // call (or a few, for over a gigabyte).
  bool parse(const char* data, std::size_t size, bool last) noexcept;
  // Appends to the held bytes; false when memory runs out.
  bool hold(const char* data, std::size_t size) noexcept;
  // Takes in libexpat's status after a call.
  bool settle(int status, std::size_t parsed, bool last) noexcept;
  // Records the failure and frees the parse's memory.
  void fail(const char* reason, bool outOfMemory, bool positioned) noexcept;
  // Stops libexpat from inside a handler, for `reason`.
  void stop(const char* reason, bool outOfMemory) noexcept;
  // The bytes of the event libexpat reports and their place in the input;
  // false when it cannot tell.
  bool eventBytes(const char*& bytes, std::size_t& size,
                  std::uint64_t& place) const noexcept;
  // The places of the values in `attributes` of the start tag being
  // reported, kCopied for each that is not borrowed; null when none is.
  const std::uint64_t* placeAttributes(const char* const* attributes,
                                       std::uint64_t* places,
                                       std::size_t room) const noexcept;
  // Follows whether the pending text, with `size` more bytes at `text`,
  // still lies unchanged in the input.
  void placeText(const char* text, std::size_t size) noexcept;
  // Makes the pending text a node, unless it is layout only.
  bool flushText() noexcept;
  void release() noexcept;

  XML_ParserStruct* parser_ = nullptr;
  TAV::XML::DOMDocument* document_ = nullptr;
  // Character data not yet made into a node: libexpat delivers one text run
  // in several pieces (at line ends and references).
  char* text_ = nullptr;
  std::size_t textSize_ = 0;
  std::size_t textCapacity_ = 0;
  // Whether values are borrowed; where the pending text starts in the
  // input, and whether it lies there unchanged.
  bool borrow_ = false;
  std::uint64_t textPlace_ = 0;
  bool textInPlace_ = false;
  // Bytes fed and not yet given to libexpat, and how many of them end after
  // their last blank or '>' (0: none does).
  char* held_ = nullptr;
  std::size_t heldSize_ = 0;
  std::size_t heldCapacity_ = 0;
  std::size_t heldCut_ = 0;
  // Bytes given to libexpat, and how many of them it holds unparsed (the
  // start of a token that goes on in the bytes to come).
  std::uint64_t parsed_ = 0;
  std::uint64_t unfinished_ = 0;
  bool ended_ = false;
  // A handler's reason for stopping the parse.
  const char* stopReason_ = nullptr;
  bool stopForMemory_ = false;
  DOMParseFailure failure_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_HOST_DOMPIECEPARSER_H
