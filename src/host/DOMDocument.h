#ifndef ZUBDM_HOST_DOMDOCUMENT_H
#define ZUBDM_HOST_DOMDOCUMENT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <zubdm/host/Attr.h>
#include <zubdm/host/NamedNodeMap.h>
#include <zubdm/host/Node.h>

namespace TAV {
namespace XML {

// A parsed document: its document node and the owner of all its storage.
//
// Nodes, attribute lists, names and texts are laid out one after another in
// a few large blocks owned by the document, so building costs no allocation
// per node and the whole tree is freed, without walking it, when the
// document's last reference goes. Attribute maps handed out hold a reference
// to the document.
//
// Built by DOMBuilder: the create* operations make unlinked nodes, and the
// builder links them through the slot operations. They throw std::bad_alloc
// when memory runs out.
class DOMDocument final : public Node {
 public:
  class ChildNode;
  class AttributeMap;

  // A new empty document with one reference for the caller.
  static DOMDocument* create() { return new DOMDocument; }

  unsigned short getNodeType() const override { return DOCUMENT_NODE; }
  Node* getFirstChild() const override;
  Node* getNextSibling() const override { return nullptr; }
  std::string getNodeName() const override { return "#document"; }
  std::string getNodeValue() const override { return std::string(); }
  NamedNodeMap* getAttributes() override { return nullptr; }

  // Where the document's first child is linked in.
  ChildNode** firstChildSlot() { return &firstChild_; }
  // An element named `name` with the attributes of `attributes`, a null-ended
  // list of name and value pairs.
  ChildNode* createElement(const char* name, const char** attributes);
  // A text or comment node holding `length` bytes of `data`.
  ChildNode* createCharacterNode(NodeType type, const char* data,
                                 std::size_t length);

 private:
  // The attributes of one element, followed in memory by the `count` names
  // and then the `count` values, one after another. Values are found by
  // walking them rather than through pointers, which halves the size of an
  // attribute on large documents of small elements. Names and values are
  // NUL-terminated: XML text never contains NUL.
  struct AttributeList {
    DOMDocument* document;
    std::size_t count;
    const char* const* names() const {
      return reinterpret_cast<const char* const*>(this + 1);
    }
    const char* values() const {
      return reinterpret_cast<const char*>(names() + count);
    }
  };

  DOMDocument();
  ~DOMDocument();
  void dispose() override { delete this; }

  // `size` bytes aligned for any node or record, valid until destruction.
  void* allocate(std::size_t size);
  void* allocateBlock(std::size_t size);
  const char* store(const char* data, std::size_t length);
  const char* storeName(const char* name);

  ChildNode* firstChild_ = nullptr;
  // Blocks grow from small (small documents stay small) to large (few
  // allocations and page faults for large ones).
  std::vector<void*> blocks_;
  char* next_ = nullptr;
  std::size_t left_ = 0;
  // Recently stored names, found by a hash of the name. Names repeat (each
  // object of a listing has the same items and attributes), so most are
  // stored once; a bounded cache rather than a table of all names keeps each
  // look-up constant-time whatever names the input makes up.
  static constexpr std::size_t kNameCache = 64;
  const char* recentNames_[kNameCache] = {};
};

// An element, text or comment node. Trivially destructible: it is never
// destroyed on its own, its block is freed with the document.
class DOMDocument::ChildNode final : public Node {
 public:
  ChildNode(NodeType type, const char* name, AttributeList* attributes)
      : type_(type), name_(name), attributes_(attributes) {}
  ChildNode(NodeType type, const char* text, std::size_t length)
      : type_(type), text_(text), length_(length) {}

  unsigned short getNodeType() const override { return type_; }
  Node* getFirstChild() const override { return firstChild_; }
  Node* getNextSibling() const override { return nextSibling_; }
  std::string getNodeName() const override;
  std::string getNodeValue() const override;
  NamedNodeMap* getAttributes() override;

  ChildNode** firstChildSlot() { return &firstChild_; }
  ChildNode** nextSiblingSlot() { return &nextSibling_; }

 private:
  void dispose() override {}

  NodeType type_;
  ChildNode* firstChild_ = nullptr;
  ChildNode* nextSibling_ = nullptr;
  union {
    const char* name_;  // elements
    const char* text_;  // texts and comments
  };
  union {
    AttributeList* attributes_;  // elements; null when there are none
    std::size_t length_;         // texts and comments
  };
};

// The attribute map of one element: keeps the document alive and carries
// one attribute node per attribute, made when the map is made.
class DOMDocument::AttributeMap final : public NamedNodeMap {
 public:
  // A new map with one reference, or null when memory runs out.
  static AttributeMap* create(const AttributeList* list);

  unsigned int getLength() const override { return count_; }
  Attr* item(unsigned int index) const override;

 private:
  class Item final : public Attr {
   public:
    unsigned short getNodeType() const override { return ATTRIBUTE_NODE; }
    Node* getFirstChild() const override { return nullptr; }
    Node* getNextSibling() const override { return nullptr; }
    std::string getNodeName() const override { return name_; }
    std::string getNodeValue() const override { return value_; }
    NamedNodeMap* getAttributes() override { return nullptr; }
    std::string getName() const override { return name_; }
    std::string getValue() const override { return value_; }

   private:
    friend class AttributeMap;
    void dispose() override {}
    const char* name_ = nullptr;
    const char* value_ = nullptr;
  };

  AttributeMap(DOMDocument* document, unsigned int count);
  ~AttributeMap();
  void dispose() override;
  Item* items() const;

  DOMDocument* document_;
  unsigned int count_;
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_DOMDOCUMENT_H
