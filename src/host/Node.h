#ifndef ZUBDM_HOST_NODE_H
#define ZUBDM_HOST_NODE_H

#include <zubdm/ZubdmExport.h>

#include <string>

#include <zubdm/host/DOMObject.h>

namespace TAV {
namespace XML {

class NamedNodeMap;

// A node of a parsed document: the document itself, an element, a text run, a
// comment or an attribute. Nodes reached through child, sibling and attribute
// links belong to their document, stay valid while the document is held and
// are not released by the caller. A document may make a node when it is
// first walked to; the same node is returned from then on.
class ZUBDM_EXPORT Node : public DOMObject {
 public:
  // Node type codes, numbered as in the W3C DOM.
  enum NodeType : unsigned short {
    ELEMENT_NODE = 1,
    ATTRIBUTE_NODE = 2,
    TEXT_NODE = 3,
    CDATA_SECTION_NODE = 4,
    PROCESSING_INSTRUCTION_NODE = 7,
    COMMENT_NODE = 8,
    DOCUMENT_NODE = 9,
  };

  virtual unsigned short getNodeType() const = 0;
  // Null when the node has no children, and when memory runs out making
  // the node.
  virtual Node* getFirstChild() const = 0;
  // Null for the last child and for nodes outside a child list, and when
  // memory runs out making the node.
  virtual Node* getNextSibling() const = 0;
  // The element or attribute name; "#text", "#comment" or "#document" for
  // the other kinds.
  virtual std::string getNodeName() const = 0;
  // The text of a text, comment or attribute node; empty for the others.
  virtual std::string getNodeValue() const = 0;
  // For an element, a new map of its attributes with one reference for the
  // caller, who releases it; it keeps the document alive until then. Null
  // for other nodes and when memory runs out.
  virtual NamedNodeMap* getAttributes() = 0;

 protected:
  Node() = default;
  ~Node() = default;
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_NODE_H
