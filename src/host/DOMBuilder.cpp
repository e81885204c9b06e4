#include "host/DOMBuilder.h"

#include <expat.h>
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "host/CXMLException.h"
#include "host/DOMDocument.h"
#include "host/HugePageMemory.h"

namespace TAV {
namespace XML {

namespace {

using ChildNode = DOMDocument::ChildNode;

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

struct Releaser {
  void operator()(DOMObject* object) const { object->release(); }
};

// What the expat callbacks of one parse share.
struct ParseState {
  XML_Parser parser = nullptr;
  DOMDocument* document = nullptr;
  // For each open element, innermost last (the document first), the link
  // that the next child goes into. Kept here rather than on the call stack
  // so that nesting depth is bounded by memory only.
  std::vector<ChildNode**> open;
  // Character data not yet made into a node: expat delivers one text run in
  // several pieces (at line ends and references).
  std::string text;
  // Set by a callback that stopped the parse; expat may still deliver a few
  // callbacks after that, which are ignored.
  const char* failure = nullptr;
};

constexpr char kOutOfMemory[] = "out of memory";

// Memory for expat. Its document buffer is as large as the document; from a
// huge page on, a block is mapped on its own with huge pages (see
// host/HugePageMemory.h), since faulting in a large buffer page by page costs
// more than the parse. Every block carries its size in front of it.
struct BlockHeader {
  std::size_t size;
  std::size_t mapped;
};
static_assert(sizeof(BlockHeader) % alignof(std::max_align_t) == 0,
              "blocks keep malloc's alignment");

void* expatMalloc(std::size_t size) {
  if (size > SIZE_MAX - HUGE_PAGE_SIZE - sizeof(BlockHeader)) return nullptr;
  const std::size_t total = size + sizeof(BlockHeader);
  const bool mapped = total >= HUGE_PAGE_SIZE;
  void* block = mapped ? mapHugePages(total) : std::malloc(total);
  if (block == nullptr) return nullptr;
  auto* header = static_cast<BlockHeader*>(block);
  header->size = size;
  header->mapped = mapped ? 1 : 0;
  return header + 1;
}

void expatFree(void* data) {
  if (data == nullptr) return;
  auto* header = static_cast<BlockHeader*>(data) - 1;
  if (header->mapped != 0) {
    unmapHugePages(header, header->size + sizeof(BlockHeader));
  } else {
    std::free(header);
  }
}

void* expatRealloc(void* data, std::size_t size) {
  if (data == nullptr) return expatMalloc(size);
  auto* header = static_cast<BlockHeader*>(data) - 1;
  if (header->mapped == 0 && size + sizeof(BlockHeader) < HUGE_PAGE_SIZE) {
    void* block = std::realloc(header, size + sizeof(BlockHeader));
    if (block == nullptr) return nullptr;
    header = static_cast<BlockHeader*>(block);
    header->size = size;
    return header + 1;
  }
  void* moved = expatMalloc(size);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, data, std::min(size, header->size));
  expatFree(data);
  return moved;
}

const XML_Memory_Handling_Suite kExpatMemory = {expatMalloc, expatRealloc,
                                                expatFree};

void stop(ParseState& state, const char* why) {
  if (state.failure == nullptr) state.failure = why;
  XML_StopParser(state.parser, XML_FALSE);
}

void append(ParseState& state, ChildNode* node) {
  *state.open.back() = node;
  state.open.back() = node->nextSiblingSlot();
}

// Whitespace-only text between elements is layout, not content, and is
// dropped: on typical show output it would be half of all nodes.
bool isLayout(const std::string& text) {
  for (const char c : text) {
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return false;
  }
  return true;
}

void flushText(ParseState& state) {
  if (state.text.empty()) return;
  if (!isLayout(state.text)) {
    append(state, state.document->createCharacterNode(
                      Node::TEXT_NODE, state.text.data(), state.text.size()));
  }
  state.text.clear();
}

// Callbacks run inside expat's C frames, so no exception may leave them.
// Allocation is all that can throw here.

void XMLCALL onStartElement(void* data, const XML_Char* name,
                            const XML_Char** attributes) {
  ParseState& state = *static_cast<ParseState*>(data);
  if (state.failure != nullptr) return;
  try {
    flushText(state);
    ChildNode* element = state.document->createElement(name, attributes);
    append(state, element);
    state.open.push_back(element->firstChildSlot());
  } catch (...) {
    stop(state, kOutOfMemory);
  }
}

void XMLCALL onEndElement(void* data, const XML_Char* /*name*/) {
  ParseState& state = *static_cast<ParseState*>(data);
  if (state.failure != nullptr) return;
  try {
    flushText(state);
  } catch (...) {
    stop(state, kOutOfMemory);
    return;
  }
  if (state.open.size() > 1) state.open.pop_back();
}

void XMLCALL onCharacters(void* data, const XML_Char* text, int length) {
  ParseState& state = *static_cast<ParseState*>(data);
  if (state.failure != nullptr) return;
  try {
    state.text.append(text, static_cast<std::size_t>(length));
  } catch (...) {
    stop(state, kOutOfMemory);
  }
}

void XMLCALL onComment(void* data, const XML_Char* text) {
  ParseState& state = *static_cast<ParseState*>(data);
  if (state.failure != nullptr) return;
  try {
    flushText(state);
    append(state, state.document->createCharacterNode(Node::COMMENT_NODE, text,
                                                      std::strlen(text)));
  } catch (...) {
    stop(state, kOutOfMemory);
  }
}

// A document type declaration is the only way to declare entities, so
// refusing it rules out entity expansion bombs and external loads alike.
void XMLCALL onStartDoctype(void* data, const XML_Char* /*name*/,
                            const XML_Char* /*systemId*/,
                            const XML_Char* /*publicId*/,
                            int /*hasInternalSubset*/) {
  stop(*static_cast<ParseState*>(data),
       "document type declaration not accepted");
}

void XMLCALL onEntityDecl(void* data, const XML_Char* /*name*/,
                          int /*isParameterEntity*/, const XML_Char* /*value*/,
                          int /*valueLength*/, const XML_Char* /*base*/,
                          const XML_Char* /*systemId*/,
                          const XML_Char* /*publicId*/,
                          const XML_Char* /*notationName*/) {
  stop(*static_cast<ParseState*>(data), "entity declaration not accepted");
}

// Feeds the whole stream to expat in one call: expat rescans a token that
// spans several pieces from its start for every piece, which is quadratic
// on large tokens.
XML_Status parseStream(XML_Parser parser, std::istream& in) {
  std::streambuf* buffer = in.rdbuf();
  const std::streamoff here =
      buffer->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
  const std::streamoff end =
      here < 0 ? -1
               : std::streamoff(buffer->pubseekoff(0, std::ios_base::end,
                                                   std::ios_base::in));
  if (here >= 0 && end >= here &&
      buffer->pubseekpos(here, std::ios_base::in) == here) {
    // Seekable (string streams, files): read straight into expat's buffer,
    // the only copy made.
    const std::streamoff size = end - here;
    if (size > INT_MAX) throw CXMLException("document too large");
    if (size == 0) return XML_Parse(parser, "", 0, XML_TRUE);
    void* target = XML_GetBuffer(parser, static_cast<int>(size));
    if (target == nullptr) throw std::bad_alloc();
    const std::streamsize got = buffer->sgetn(static_cast<char*>(target), size);
    return XML_ParseBuffer(parser, static_cast<int>(got), XML_TRUE);
  }
  std::string text;
  constexpr std::size_t kPiece = 65536;
  for (;;) {
    const std::size_t used = text.size();
    text.resize(used + kPiece);
    const std::streamsize got = buffer->sgetn(&text[used], kPiece);
    text.resize(used + static_cast<std::size_t>(got > 0 ? got : 0));
    if (text.size() > INT_MAX) throw CXMLException("document too large");
    if (got < static_cast<std::streamsize>(kPiece)) break;
  }
  return XML_Parse(parser, text.data(), static_cast<int>(text.size()),
                   XML_TRUE);
}

// A secret hash salt for each parser, as expat would draw itself (it keeps
// crafted names from flooding its hash tables) but from one draw of random
// bytes per process: expat's own draw is a system call per document.
unsigned long nextHashSalt() {
  static const unsigned long secret = [] {
    unsigned long bytes = 0;
    if (getrandom(&bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
      bytes = static_cast<unsigned long>(
          std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return bytes;
  }();
  static std::atomic<unsigned long> drawn{0};
  // Distinct for every parser; a multiplier that spreads the count's bits.
  const unsigned long count = drawn.fetch_add(1, std::memory_order_relaxed) + 1;
  return secret ^ (count * 0x9E3779B97F4A7C15UL);
}

Node* parseDocument(std::istream& in) {
  std::unique_ptr<XML_ParserStruct, ParserFree> parser(
      XML_ParserCreate_MM(nullptr, &kExpatMemory, nullptr));
  if (!parser) throw std::bad_alloc();
  XML_SetHashSalt(parser.get(), nextHashSalt());
  std::unique_ptr<DOMDocument, Releaser> document(DOMDocument::create());

  ParseState state;
  state.parser = parser.get();
  state.document = document.get();
  state.open.push_back(document->firstChildSlot());

  XML_SetUserData(parser.get(), &state);
  XML_SetElementHandler(parser.get(), onStartElement, onEndElement);
  XML_SetCharacterDataHandler(parser.get(), onCharacters);
  XML_SetCommentHandler(parser.get(), onComment);
  XML_SetStartDoctypeDeclHandler(parser.get(), onStartDoctype);
  XML_SetEntityDeclHandler(parser.get(), onEntityDecl);
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

  const XML_Status status = parseStream(parser.get(), in);
  if (state.failure == kOutOfMemory) throw std::bad_alloc();
  if (status != XML_STATUS_OK || state.failure != nullptr) {
    const char* reason = state.failure != nullptr
                             ? state.failure
                             : XML_ErrorString(XML_GetErrorCode(parser.get()));
    std::string message(reason != nullptr ? reason : "parse error");
    // expat counts columns from 0.
    message += " at line " +
               std::to_string(XML_GetCurrentLineNumber(parser.get())) +
               ", column " +
               std::to_string(XML_GetCurrentColumnNumber(parser.get()) + 1);
    throw CXMLException(message);
  }
  return document.release();
}

}  // namespace

DOMBuilder::DOMBuilder(XMLNamePool* /*namePool*/) {}

Node* DOMBuilder::parseDOMInputSource(CInputSource* source) {
  std::istream* in = source != nullptr ? source->getStream() : nullptr;
  if (in == nullptr || in->rdbuf() == nullptr) {
    throw CXMLException("no input stream");
  }
  try {
    return parseDocument(*in);
  } catch (const std::bad_alloc&) {
    throw CXMLException(kOutOfMemory);
  }
}

}  // namespace XML
}  // namespace TAV
