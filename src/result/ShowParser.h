#ifndef ZUBDM_RESULT_SHOWPARSER_H
#define ZUBDM_RESULT_SHOWPARSER_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <zubdm/host/DOMPieceParser.h>
#include <zubdm/host/Node.h>

namespace zubdm {
namespace internal {

// Parses the show document in a command's output as the output arrives, in
// pieces of any size, into a document for CliDomTree::adopt().
//
// A show document runs from "<SHOW" to the end of the first "</SHOW>" after
// it. The caller finds the start (documentStart() does, in output at hand)
// and feeds from there; this parser finds the end itself, also when it is
// split across pieces, and takes no byte after it. A document without
// "</SHOW>" ends where feeding stops, at finish(). Output of blanks, tabs
// and line ends only is no document.
//
// The rules of DOMPieceParser hold (untrusted input, libexpat's copy of
// each piece); nothing is thrown. Owns the parse and, until it is taken,
// the finished document. Not thread-safe; not copyable.
class ShowParser {
 public:
  enum class Outcome {
    Document,  // takeDocument() gives it
    Blank,     // only blanks, tabs and line ends were fed
    Failed,    // failure() says why
  };

  // Where the show document of `output` starts: at its first "<SHOW" that
  // starts a line, or at its start when it has none.
  static std::size_t documentStart(std::string_view output);

  ShowParser() noexcept = default;
  ~ShowParser();
  ShowParser(const ShowParser&) = delete;
  ShowParser& operator=(const ShowParser&) = delete;

  // Feeds the next `size` bytes of the document; `last` says that no more
  // follow. Returns how many of them belong to it: all of them until
  // "</SHOW>" is complete, up to its end in the piece that completes it, and
  // none after that or after finish().
  std::size_t feed(const char* data, std::size_t size, bool last = false) noexcept;

  // With `on`, documents borrow what they can from the bytes fed (see
  // DOMPieceParser::borrowValues), place 0 being the first byte fed; they
  // are then read only once the output is lent to them, which
  // CliDomTree::adopt does with the text that holds these bytes. Stays so
  // across abandon().
  void borrowValues(bool on) {
    borrow_ = on;
    parser_.borrowValues(on);
  }

  // How many bytes fed belong to the document.
  std::uint64_t length() const { return length_; }

  // A 64-bit digest of bytes, the same however they are cut into pieces.
  class Digest {
   public:
    void add(const char* data, std::size_t size);
    std::uint64_t value() const;

   private:
    void block(const char* data);

    std::uint64_t state_[4] = {0x9E3779B97F4A7C15u, 0xC2B2AE3D27D4EB4Fu,
                               0x165667B19E3779F9u, 0x27D4EB2F165667C5u};
    std::uint64_t length_ = 0;
    char pending_[32] = {};
    std::size_t pendingSize_ = 0;
  };
  // While borrowing, the digest of the bytes that belong to the document:
  // whoever lends a text to it checks that the text holds those bytes.
  std::uint64_t digest() const { return digest_.value(); }
  static std::uint64_t digestOf(std::string_view bytes);

  // True once "</SHOW>" has been fed: the document is whole.
  bool ended() const { return ended_; }

  // Ends the document: at "</SHOW>", or after the bytes fed. Called again,
  // gives the same outcome.
  Outcome finish() noexcept;
  // After Document, the document node (type DOCUMENT_NODE) with one
  // reference for the caller; null when there is none or it was taken.
  TAV::XML::Node* takeDocument() noexcept;
  // After Failed, why.
  const DOMParseFailure& failure() const { return parser_.failure(); }

  // Drops whatever was parsed, the document too if it was not taken, and
  // frees its memory: the parser is as new.
  void abandon() noexcept;

 private:
  // Where "</SHOW>" ends in the piece, counting an end begun in the bytes
  // before it; npos when it does not end there. Keeps the piece's last
  // bytes for the next call.
  std::size_t findEnd(const char* data, std::size_t size);

  DOMPieceParser parser_;
  TAV::XML::Node* document_ = nullptr;
  bool finished_ = false;
  Outcome outcome_ = Outcome::Blank;
  bool ended_ = false;
  std::uint64_t length_ = 0;
  bool borrow_ = false;
  Digest digest_;
  // Whether a byte other than a blank, tab or line end was fed.
  bool content_ = false;
  // The last bytes fed, at most one short of "</SHOW>".
  char carry_[6] = {};
  std::size_t carrySize_ = 0;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_RESULT_SHOWPARSER_H
