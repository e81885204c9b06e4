#include <zubdm/host/DOMBuilder.h>

#include <expat.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <zubdm/host/CXMLException.h>
#include <zubdm/host/DOMDocument.h>

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

// The document goes to expat in pieces: expat copies what it is given into
// a buffer of its own, so one call would hold the document twice. Pieces
// grow with what was fed, so that a token spanning several pieces, which
// expat rescans from its start for each one, costs linear time overall.
XML_Status parseAll(XML_Parser parser, const char* data, std::size_t size) {
  constexpr std::size_t kFirstPiece = std::size_t{256} << 10;
  constexpr std::size_t kLargestPiece = std::size_t{1} << 30;
  std::size_t fed = 0;
  for (;;) {
    const std::size_t piece =
        std::min({size - fed, std::max(kFirstPiece, fed / 8), kLargestPiece});
    const bool last = fed + piece == size;
    const XML_Status status =
        XML_Parse(parser, data + fed, static_cast<int>(piece), last);
    fed += piece;
    if (status != XML_STATUS_OK || last) return status;
  }
}

Node* parseDocument(const char* data, std::size_t size) {
  std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate(nullptr));
  if (!parser) throw std::bad_alloc();
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

  const XML_Status status = parseAll(parser.get(), data, size);
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
  if (source == nullptr) throw CXMLException("no input stream");
  try {
    if (source->getData() != nullptr) {
      return parseDocument(source->getData(), source->getSize());
    }
    std::istream* in = source->getStream();
    if (in == nullptr || in->rdbuf() == nullptr) {
      throw CXMLException("no input stream");
    }
    const std::string text(std::istreambuf_iterator<char>(*in), {});
    return parseDocument(text.data(), text.size());
  } catch (const std::bad_alloc&) {
    throw CXMLException(kOutOfMemory);
  }
}

}  // namespace XML
}  // namespace TAV
