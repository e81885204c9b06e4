#include <zubdm/host/DOMPieceParser.h>

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <zubdm/host/DOMDocument.h>

namespace zubdm {
namespace internal {

namespace {

using TAV::XML::Node;

constexpr char kOutOfMemory[] = "out of memory";
// The most one libexpat call takes (it counts in int).
constexpr std::size_t kLargestCall = std::size_t{1} << 30;
// libexpat tells the encoding by the first two bytes (three for a byte
// order mark, four at most): its first call has at least that many.
constexpr std::size_t kEncodingBytes = 4;
// Text runs longer than this are handed to the document in the buffer they
// were collected in, rather than copied.
constexpr std::size_t kHandOverText = std::size_t{64} << 10;
// Values shorter than this are copied: they are what searches compare
// (ids, names, numbers), and read from the records they cost no look into
// a second stretch of memory; their place would take a few bytes too. An
// element with more attributes than kPlaced has all of them copied.
constexpr std::size_t kBorrowable = 32;
constexpr std::size_t kPlaced = 32;

// Whitespace-only text between elements is layout, not content, and is
// dropped: on typical show output it would be half of all nodes.
bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

bool isLayout(const char* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (!isBlank(text[i])) return false;
  }
  return true;
}

// How many of the bytes end after their last blank or '>'; 0 when none does.
// Not after a carriage return: libexpat counts a CR LF split between two
// calls as two line ends.
std::size_t lastCut(const char* data, std::size_t size) {
  for (std::size_t i = size; i > 0; --i) {
    const char c = data[i - 1];
    if (c == '>' || c == ' ' || c == '\n' || c == '\t') return i;
  }
  return 0;
}

}  // namespace

std::string DOMParseFailure::text() const {
  if (reason == nullptr) return std::string();
  if (outOfMemory) return kOutOfMemory;
  return std::string(reason) + " at line " + std::to_string(line) +
         ", column " + std::to_string(column);
}

// libexpat's callbacks. They run inside its C frames: nothing may be thrown
// out of them, and none of the document's operations throws.
struct DOMPieceParser::Handlers {
  static DOMPieceParser& of(void* data) {
    return *static_cast<DOMPieceParser*>(data);
  }

  static void XMLCALL startElement(void* data, const XML_Char* name,
                                   const XML_Char** attributes) {
    DOMPieceParser& self = of(data);
    if (self.stopReason_ != nullptr) return;
    if (!self.flushText()) {
      self.stop(kOutOfMemory, true);
      return;
    }
    std::uint64_t places[kPlaced];
    const std::uint64_t* placed =
        self.borrow_ ? self.placeAttributes(attributes, places, kPlaced) : nullptr;
    if (!self.document_->startElement(name, attributes, placed)) {
      self.stop(kOutOfMemory, true);
    }
  }

  static void XMLCALL endElement(void* data, const XML_Char* /*name*/) {
    DOMPieceParser& self = of(data);
    if (self.stopReason_ != nullptr) return;
    if (!self.flushText()) self.stop(kOutOfMemory, true);
    self.document_->endElement();
  }

  static void XMLCALL characters(void* data, const XML_Char* text, int length) {
    DOMPieceParser& self = of(data);
    if (self.stopReason_ != nullptr || length <= 0) return;
    const auto size = static_cast<std::size_t>(length);
    if (self.borrow_) self.placeText(text, size);
    if (size > self.textCapacity_ - self.textSize_) {
      std::size_t capacity = std::max<std::size_t>(256, self.textCapacity_);
      while (capacity - self.textSize_ < size) capacity *= 2;
      char* grown = static_cast<char*>(std::realloc(self.text_, capacity));
      if (grown == nullptr) {
        self.stop(kOutOfMemory, true);
        return;
      }
      self.text_ = grown;
      self.textCapacity_ = capacity;
    }
    std::memcpy(self.text_ + self.textSize_, text, size);
    self.textSize_ += size;
  }

  static void XMLCALL comment(void* data, const XML_Char* text) {
    DOMPieceParser& self = of(data);
    if (self.stopReason_ != nullptr) return;
    if (!self.flushText() ||
        !self.document_->addCharacterNode(Node::COMMENT_NODE, text,
                                          std::strlen(text))) {
      self.stop(kOutOfMemory, true);
    }
  }

  // A document type declaration is the only way to declare entities, so
  // refusing it rules out entity expansion bombs and external loads alike.
  static void XMLCALL startDoctype(void* data, const XML_Char* /*name*/,
                                   const XML_Char* /*systemId*/,
                                   const XML_Char* /*publicId*/,
                                   int /*hasInternalSubset*/) {
    of(data).stop("document type declaration not accepted", false);
  }

  static void XMLCALL entityDecl(void* data, const XML_Char* /*name*/,
                                 int /*isParameterEntity*/,
                                 const XML_Char* /*value*/, int /*valueLength*/,
                                 const XML_Char* /*base*/,
                                 const XML_Char* /*systemId*/,
                                 const XML_Char* /*publicId*/,
                                 const XML_Char* /*notationName*/) {
    of(data).stop("entity declaration not accepted", false);
  }
};

DOMPieceParser::DOMPieceParser() noexcept = default;

DOMPieceParser::~DOMPieceParser() { release(); }

void DOMPieceParser::release() noexcept {
  if (parser_ != nullptr) XML_ParserFree(parser_);
  parser_ = nullptr;
  if (document_ != nullptr) document_->release();
  document_ = nullptr;
  std::free(text_);
  text_ = nullptr;
  textSize_ = textCapacity_ = 0;
  std::free(held_);
  held_ = nullptr;
  heldSize_ = heldCapacity_ = heldCut_ = 0;
  parsed_ = unfinished_ = 0;
  ended_ = false;
  stopReason_ = nullptr;
  stopForMemory_ = false;
}

void DOMPieceParser::abandon() noexcept {
  release();
  failure_ = DOMParseFailure();
}

bool DOMPieceParser::start() noexcept {
  failure_ = DOMParseFailure();
  parser_ = XML_ParserCreate(nullptr);
  document_ = TAV::XML::DOMDocument::create();
  if (parser_ == nullptr || document_ == nullptr) {
    fail(kOutOfMemory, true, false);
    return false;
  }
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, Handlers::startElement, Handlers::endElement);
  XML_SetCharacterDataHandler(parser_, Handlers::characters);
  XML_SetCommentHandler(parser_, Handlers::comment);
  XML_SetStartDoctypeDeclHandler(parser_, Handlers::startDoctype);
  XML_SetEntityDeclHandler(parser_, Handlers::entityDecl);
  XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
  return true;
}

void DOMPieceParser::stop(const char* reason, bool outOfMemory) noexcept {
  if (stopReason_ == nullptr) {
    stopReason_ = reason;
    stopForMemory_ = outOfMemory;
  }
  XML_StopParser(parser_, XML_FALSE);
}

void DOMPieceParser::fail(const char* reason, bool outOfMemory,
                          bool positioned) noexcept {
  failure_.reason = reason;
  failure_.outOfMemory = outOfMemory;
  if (positioned && parser_ != nullptr) {
    failure_.line = XML_GetCurrentLineNumber(parser_);
    // libexpat counts columns from 0.
    failure_.column = XML_GetCurrentColumnNumber(parser_) + 1;
  }
  release();
}

bool DOMPieceParser::settle(int status, std::size_t parsed, bool last) noexcept {
  parsed_ += parsed;
  if (status != XML_STATUS_OK) {
    if (stopReason_ != nullptr) {
      fail(stopReason_, stopForMemory_, !stopForMemory_);
    } else if (XML_GetErrorCode(parser_) == XML_ERROR_NO_MEMORY) {
      fail(kOutOfMemory, true, false);
    } else {
      const char* reason = XML_ErrorString(XML_GetErrorCode(parser_));
      fail(reason != nullptr ? reason : "parse error", false, true);
    }
    return false;
  }
  ended_ = last;
  // What libexpat holds unparsed: the bytes from the token it stopped at.
  const XML_Index at = XML_GetCurrentByteIndex(parser_);
  unfinished_ = at < 0 || static_cast<std::uint64_t>(at) > parsed_
                    ? 0
                    : parsed_ - static_cast<std::uint64_t>(at);
  return true;
}

bool DOMPieceParser::parse(const char* data, std::size_t size, bool last) noexcept {
  if (heldSize_ + size == 0) {
    // libexpat has no buffer before its first bytes.
    return settle(XML_Parse(parser_, nullptr, 0, last), 0, last);
  }
  const char* held = held_;
  std::size_t heldLeft = heldSize_;
  do {
    const std::size_t piece = std::min(heldLeft + size, kLargestCall);
    const bool final = last && piece == heldLeft + size;
    char* buffer = static_cast<char*>(XML_GetBuffer(parser_, static_cast<int>(piece)));
    if (buffer == nullptr) {
      fail(kOutOfMemory, true, false);
      return false;
    }
    const std::size_t fromHeld = std::min(heldLeft, piece);
    if (fromHeld != 0) std::memcpy(buffer, held, fromHeld);
    if (piece != fromHeld) std::memcpy(buffer + fromHeld, data, piece - fromHeld);
    held += fromHeld;
    heldLeft -= fromHeld;
    data += piece - fromHeld;
    size -= piece - fromHeld;
    if (!settle(XML_ParseBuffer(parser_, static_cast<int>(piece), final), piece, final)) {
      return false;
    }
  } while (heldLeft + size != 0);
  heldSize_ = heldCut_ = 0;
  return true;
}

bool DOMPieceParser::hold(const char* data, std::size_t size) noexcept {
  if (size == 0) return true;
  if (size > heldCapacity_ - heldSize_) {
    std::size_t capacity = std::max<std::size_t>(256, heldCapacity_);
    while (capacity - heldSize_ < size) capacity *= 2;
    char* grown = static_cast<char*>(std::realloc(held_, capacity));
    if (grown == nullptr) {
      fail(kOutOfMemory, true, false);
      return false;
    }
    held_ = grown;
    heldCapacity_ = capacity;
  }
  std::memcpy(held_ + heldSize_, data, size);
  const std::size_t cut = lastCut(data, size);
  if (cut != 0) heldCut_ = heldSize_ + cut;
  heldSize_ += size;
  return true;
}

bool DOMPieceParser::feed(const char* data, std::size_t size, bool last) noexcept {
  if (failed()) return false;
  if (ended_) return true;
  if (parser_ == nullptr && !start()) return false;
  if (last) return parse(data, size, true);

  // The held bytes and the piece: libexpat gets them up to their last blank
  // or '>', once that is at least as long as the token it keeps unfinished,
  // and its first call the bytes it tells the encoding by.
  const std::size_t inPiece = lastCut(data, size);
  const std::size_t cut = inPiece != 0 ? heldSize_ + inPiece : heldCut_;
  if (cut == 0 || cut < unfinished_ || (parsed_ == 0 && cut < kEncodingBytes)) {
    return hold(data, size);
  }
  if (cut > heldSize_) {
    const std::size_t given = cut - heldSize_;
    return parse(data, given, false) && hold(data + given, size - given);
  }
  // The place lies in the held bytes: what follows it is held again.
  const std::size_t rest = heldSize_ - cut;
  heldSize_ = cut;
  if (!parse(nullptr, 0, false)) return false;
  std::memmove(held_, held_ + cut, rest);
  heldSize_ = rest;
  heldCut_ = 0;
  return hold(data, size);
}

TAV::XML::Node* DOMPieceParser::finish() noexcept {
  if (failed()) return nullptr;
  if (parser_ == nullptr && !start()) return nullptr;
  if (!ended_ && !parse(nullptr, 0, true)) return nullptr;
  if (!flushText()) {
    fail(kOutOfMemory, true, false);
    return nullptr;
  }
  document_->endBuilding();
  TAV::XML::Node* document = document_;
  document_ = nullptr;
  release();
  return document;
}

bool DOMPieceParser::eventBytes(const char*& bytes, std::size_t& size,
                                std::uint64_t& place) const noexcept {
  int offset = 0;
  int available = 0;
  const char* context = XML_GetInputContext(parser_, &offset, &available);
  const XML_Index index = XML_GetCurrentByteIndex(parser_);
  const int count = XML_GetCurrentByteCount(parser_);
  if (context == nullptr || index < 0 || count <= 0 || offset < 0 ||
      offset > available || count > available - offset) {
    return false;
  }
  bytes = context + offset;
  size = static_cast<std::size_t>(count);
  place = static_cast<std::uint64_t>(index);
  return true;
}

const std::uint64_t* DOMPieceParser::placeAttributes(
    const char* const* attributes, std::uint64_t* places,
    std::size_t room) const noexcept {
  // Values are measured once here; an element whose values are all short
  // costs no look at its tag.
  std::size_t lengths[kPlaced];
  bool worth = false;
  for (std::size_t i = 0; attributes[2 * i] != nullptr; ++i) {
    if (i == room || i == kPlaced) return nullptr;
    lengths[i] = std::strlen(attributes[2 * i + 1]);
    worth = worth || lengths[i] >= kBorrowable;
  }
  const char* tag = nullptr;
  std::size_t size = 0;
  std::uint64_t place = 0;
  if (!worth || !eventBytes(tag, size, place)) return nullptr;
  // In a start tag quotes only delimit values, and a value holds no quote
  // of the kind that delimits it: the next quote opens the next value. A
  // value is borrowed only when the bytes between its quotes are the value
  // libexpat gives; whatever the tag looks like, a place is never taken for
  // bytes that differ from the value.
  const char* at = tag;
  const char* const end = tag + size;
  bool any = false;
  for (std::size_t i = 0; attributes[2 * i] != nullptr; ++i) {
    places[i] = TAV::XML::DOMDocument::kCopied;
    const char* value = attributes[2 * i + 1];
    const std::size_t length = lengths[i];
    const char* open = at;
    while (open < end && *open != '"' && *open != '\'') ++open;
    if (open == end) {
      at = end;
      continue;
    }
    const void* close = std::memchr(open + 1, *open, static_cast<std::size_t>(end - open - 1));
    if (close == nullptr) {
      at = end;
      continue;
    }
    const char* raw = open + 1;
    at = static_cast<const char*>(close) + 1;
    if (length >= kBorrowable &&
        static_cast<std::size_t>(static_cast<const char*>(close) - raw) == length &&
        std::memcmp(raw, value, length) == 0) {
      places[i] = place + static_cast<std::uint64_t>(raw - tag);
      any = true;
    }
  }
  return any ? places : nullptr;
}

void DOMPieceParser::placeText(const char* text, std::size_t size) noexcept {
  const char* raw = nullptr;
  std::size_t rawSize = 0;
  std::uint64_t place = 0;
  const bool same = eventBytes(raw, rawSize, place) && rawSize == size &&
                    (raw == text || std::memcmp(raw, text, size) == 0);
  if (textSize_ == 0) {
    textPlace_ = place;
    textInPlace_ = same;
  } else {
    textInPlace_ = textInPlace_ && same && place == textPlace_ + textSize_;
  }
}

bool DOMPieceParser::flushText() noexcept {
  if (textSize_ == 0) return true;
  const std::size_t size = textSize_;
  textSize_ = 0;
  if (isLayout(text_, size)) return true;
  if (borrow_ && textInPlace_ && size >= kBorrowable) {
    return document_->addBorrowedText(textPlace_, size);
  }
  if (size <= kHandOverText) {
    return document_->addCharacterNode(Node::TEXT_NODE, text_, size);
  }
  // A long text keeps the buffer it was collected in, cut to size.
  char* text = static_cast<char*>(std::realloc(text_, size));
  if (text == nullptr) text = text_;
  text_ = nullptr;
  textCapacity_ = 0;
  return document_->adoptCharacterNode(Node::TEXT_NODE, text, size);
}

}  // namespace internal
}  // namespace zubdm
