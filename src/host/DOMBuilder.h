#ifndef ZUBDM_HOST_DOMBUILDER_H
#define ZUBDM_HOST_DOMBUILDER_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/host/CInputSource.h>
#include <zubdm/host/Node.h>

namespace TAV {
namespace XML {

// Shared name pools are not supported: each document keeps its own names.
class XMLNamePool;

// Parses XML 1.0 documents into DOM trees.
//
// Input is untrusted: a document type declaration is rejected as a whole, so
// no entity is ever declared, expanded or loaded from outside, and arbitrarily
// deep nesting is handled without recursion. Text made only of blanks, tabs
// and line ends is not kept. Bytes in memory are parsed in one piece, which
// the parser copies; a stream is read and parsed 64 KiB at a time. Holds no
// state between parses; one builder may be used by one thread at a time.
class ZUBDM_EXPORT DOMBuilder {
 public:
  // `namePool` is accepted for interface compatibility and ignored.
  explicit DOMBuilder(XMLNamePool* namePool = nullptr);
  ~DOMBuilder() = default;
  DOMBuilder(const DOMBuilder&) = delete;
  DOMBuilder& operator=(const DOMBuilder&) = delete;

  // Reads the source (its bytes in memory, or else its stream to the end)
  // and returns the document node
  // (type DOCUMENT_NODE) of a new tree, with one reference for the caller.
  // Throws CXMLException when the stream is missing, the text is not
  // well-formed, carries a document type declaration, or memory runs out;
  // nothing is returned or leaked then.
  Node* parseDOMInputSource(CInputSource* source);
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_DOMBUILDER_H
