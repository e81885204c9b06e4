#include <zubdm/host/DOMBuilder.h>

#include <cstddef>
#include <istream>
#include <memory>
#include <new>

#include <zubdm/host/CXMLException.h>
#include <zubdm/host/DOMPieceParser.h>

namespace TAV {
namespace XML {

namespace {

// What a stream is read in: one piece for the parser at a time.
constexpr std::size_t kStreamPiece = std::size_t{64} << 10;

Node* finished(zubdm::internal::DOMPieceParser& parser) {
  Node* document = parser.finish();
  if (document == nullptr) throw CXMLException(parser.failure().text());
  return document;
}

}  // namespace

DOMBuilder::DOMBuilder(XMLNamePool* /*namePool*/) {}

Node* DOMBuilder::parseDOMInputSource(CInputSource* source) {
  if (source == nullptr) throw CXMLException("no input stream");
  try {
    zubdm::internal::DOMPieceParser parser;
    if (source->getData() != nullptr) {
      parser.feed(source->getData(), source->getSize(), true);
      return finished(parser);
    }
    std::istream* in = source->getStream();
    if (in == nullptr || in->rdbuf() == nullptr) {
      throw CXMLException("no input stream");
    }
    const std::unique_ptr<char[]> piece(new char[kStreamPiece]);
    for (;;) {
      in->read(piece.get(), kStreamPiece);
      const auto got = static_cast<std::size_t>(in->gcount());
      if (!parser.feed(piece.get(), got) || !*in) break;
    }
    return finished(parser);
  } catch (const std::bad_alloc&) {
    throw CXMLException("out of memory");
  }
}

}  // namespace XML
}  // namespace TAV
