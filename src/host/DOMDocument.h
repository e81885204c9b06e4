#ifndef ZUBDM_HOST_DOMDOCUMENT_H
#define ZUBDM_HOST_DOMDOCUMENT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <zubdm/host/Attr.h>
#include <zubdm/host/NamedNodeMap.h>
#include <zubdm/host/Node.h>

namespace zubdm {
namespace internal {
class TextKeeper;
}  // namespace internal
}  // namespace zubdm

namespace TAV {
namespace XML {

// A parsed document: its document node and the owner of all its storage.
//
// The tree is held as one compact record per element, text run and comment,
// written one after another in document order into blocks of 64 KiB that
// the document owns; an element's attributes follow its record, and its
// first child, if any, follows them. A record holds a one-byte kind, the
// place of its next sibling and its name (a number into the document's
// table of names, each stored once) or its text; an attribute holds its
// name's number and its value. Numbers and lengths take as few bytes as
// they need; values and texts over 2 KiB live in blocks of their own. So an
// element costs 7 bytes, and each attribute 2 bytes besides its value,
// and building costs no allocation per node.
//
// A value or text may instead be borrowed: the record holds its place in a
// text outside the document (the reply it was parsed from), which the
// document is given once built (lendFrom) and keeps alive from then on.
// A document that borrows and was given no text has no values to read.
//
// Node objects are made when a caller first walks to a node, once per node,
// and freed with the document; readers that only search (CliDomTree) walk
// the records without making any. Attribute maps handed out hold a
// reference to the document. Not thread-safe, not even for reading: walking
// makes nodes.
//
// Built by DOMPieceParser in document order through startElement,
// endElement and the character node operations, which return false when
// memory runs out; the document is then incomplete and is only released.
class DOMDocument final : public Node {
 public:
  class RecordNode;
  class AttributeMap;

  // A record's place in the document; kNoRecord for none.
  using Record = std::uint32_t;
  static constexpr Record kNoRecord = 0;

  // A new empty document with one reference for the caller; null when memory
  // runs out.
  static DOMDocument* create() noexcept;

  unsigned short getNodeType() const override { return DOCUMENT_NODE; }
  // Null also when memory runs out for the node.
  Node* getFirstChild() const override;
  Node* getNextSibling() const override { return nullptr; }
  std::string getNodeName() const override { return "#document"; }
  std::string getNodeValue() const override { return std::string(); }
  NamedNodeMap* getAttributes() override { return nullptr; }

  // A value that is not borrowed (see startElement).
  static constexpr std::uint64_t kCopied = UINT64_MAX;

  // Opens an element named `name` with the attributes of `attributes`, a
  // null-ended list of name and value pairs, as the next child of the
  // innermost open element (or of the document). With `places`, one per
  // attribute, a value whose place is not kCopied is borrowed: its bytes
  // lie there in the text to be lent.
  bool startElement(const char* name, const char* const* attributes,
                    const std::uint64_t* places = nullptr) noexcept;
  // Closes the innermost open element.
  void endElement() noexcept;
  // Adds a text or comment node holding `length` bytes of `data`.
  bool addCharacterNode(NodeType type, const char* data,
                        std::size_t length) noexcept;
  // The same, taking over `data`, a block from std::malloc holding `length`
  // bytes, which the document frees (also when this fails).
  bool adoptCharacterNode(NodeType type, char* data,
                          std::size_t length) noexcept;
  // Adds a text node whose `length` bytes are borrowed from `place`.
  bool addBorrowedText(std::uint64_t place, std::size_t length) noexcept;
  // Ends building: gives back the room kept for growth.
  void endBuilding() noexcept;

  // Reading the records without making nodes. `record` must be a record of
  // this document (not kNoRecord).
  Record firstRecord() const { return first_; }
  unsigned short recordType(Record record) const;
  Record nextRecord(Record record) const;
  Record firstChildRecord(Record record) const;
  // An element's name; a text's or comment's text.
  std::string_view recordName(Record record) const;
  std::string_view recordText(Record record) const;
  // True and the value in `value` when element `record` has the attribute
  // `name`; false (value untouched) otherwise.
  bool recordAttribute(Record record, std::string_view name,
                       std::string_view& value) const;

  // Whether some value or text is borrowed, and where the borrowed bytes
  // end (0 when none is).
  bool borrows() const { return borrowedEnd_ != 0; }
  std::uint64_t borrowedEnd() const { return borrowedEnd_; }
  // Reads what is borrowed from `text`, place 0 being its byte `at`, and
  // holds a reference to `keeper`, which keeps `text` where it is and
  // unchanged for as long as the document lives. False, with nothing
  // changed, when the text is too short or a text was lent already.
  bool lendFrom(zubdm::internal::TextKeeper* keeper, const std::string& text,
                std::size_t at) noexcept;

  // The bytes of memory the document holds, nodes made for callers included.
  std::size_t bytesHeld() const;

 private:
  struct Name {
    const char* text;
    std::uint32_t length;
  };
  // Where the next child of an open element goes.
  struct Open {
    Record parent;     // kNoRecord for the document
    Record lastChild;  // kNoRecord while it has none
  };
  // Walks the attributes of one element.
  class Attributes;

  DOMDocument() = default;
  ~DOMDocument();
  void dispose() override { delete this; }

  // The lent text from place 0 on; empty while none is lent.
  std::string_view lent() const {
    if (lent_ == nullptr || lentAt_ > lent_->size()) return std::string_view();
    return std::string_view(lent_->data() + lentAt_, lent_->size() - lentAt_);
  }
  char* at(Record record) const {
    return chunks_[record >> kChunkShift] + (record & kChunkMask);
  }
  // Room for `size` bytes at the end of the records, in one chunk; null
  // when memory runs out.
  char* reserve(std::size_t size) noexcept;
  // Links a new record in as the next child of the innermost open element.
  void link(Record record) noexcept;
  // A number for the name, storing it when it is new; 0 when memory runs out.
  std::uint32_t nameNumber(const char* name) noexcept;
  // `size` bytes that live as long as the document, outside the records.
  char* allocateApart(std::size_t size) noexcept;
  static void* allocateSmall(std::vector<char*>& blocks, char*& next,
                      std::size_t& left, std::size_t size) noexcept;
  bool addCharacters(NodeType type, const char* data, std::size_t length,
                     char* adopted) noexcept;
  // The node for `record`, made on first use; null for kNoRecord and when
  // memory runs out.
  Node* nodeAt(Record record) const;
  bool growNodeTable() const;
  // Where the record after the entry ending at `end` starts.
  Record following(Record end) const;

  static constexpr unsigned kChunkShift = 16;
  static constexpr Record kChunkMask = (Record{1} << kChunkShift) - 1;

  Record first_ = kNoRecord;
  // The records. Every chunk but the last is 64 KiB; the first one starts
  // small and grows, so that a small document costs little.
  std::vector<char*> chunks_;
  std::size_t lastChunkSize_ = 0;
  std::uint64_t end_ = 1;  // records start at 1: 0 is kNoRecord
  std::vector<Open> open_;

  // Names, each stored once while the cache remembers it. The cache is
  // bounded rather than a table of all names, so that each look-up takes
  // constant time whatever names the input makes up; a name it has
  // forgotten is stored again.
  std::vector<Name> names_;
  static constexpr std::size_t kNameCache = 512;
  std::uint32_t nameCache_[kNameCache] = {};
  std::vector<char*> nameBlocks_;
  char* nameNext_ = nullptr;
  std::size_t nameLeft_ = 0;
  std::size_t nameBytes_ = 0;

  // Payloads kept apart from the records, and their total size.
  std::vector<char*> apart_;
  std::size_t apartBytes_ = 0;

  // The text borrowed values lie in, and its keeper; where the borrowed
  // bytes end.
  zubdm::internal::TextKeeper* keeper_ = nullptr;
  const std::string* lent_ = nullptr;
  std::size_t lentAt_ = 0;
  std::uint64_t borrowedEnd_ = 0;

  // Nodes made for callers, found by record through an open-addressing
  // table; made from small blocks, never freed one by one.
  mutable std::vector<char*> nodeBlocks_;
  mutable char* nodeNext_ = nullptr;
  mutable std::size_t nodeLeft_ = 0;
  mutable std::vector<RecordNode*> nodeTable_;
  mutable std::size_t nodeCount_ = 0;
};

// An element, text or comment node, made when first walked to. Trivially
// destructible: its block is freed with the document.
class DOMDocument::RecordNode final : public Node {
 public:
  RecordNode(Record record, DOMDocument* document)
      : record_(record), document_(document) {}

  unsigned short getNodeType() const override;
  Node* getFirstChild() const override;
  Node* getNextSibling() const override;
  std::string getNodeName() const override;
  std::string getNodeValue() const override;
  NamedNodeMap* getAttributes() override;

  Record record() const { return record_; }

 private:
  void dispose() override {}

  Record record_;
  DOMDocument* document_;
};

// The attribute map of one element: keeps the document alive and carries
// one attribute node per attribute, made when the map is made.
class DOMDocument::AttributeMap final : public NamedNodeMap {
 public:
  // A new map with one reference, or null when memory runs out.
  static AttributeMap* create(DOMDocument* document, Record element);

  unsigned int getLength() const override { return count_; }
  Attr* item(unsigned int index) const override;

 private:
  class Item final : public Attr {
   public:
    unsigned short getNodeType() const override { return ATTRIBUTE_NODE; }
    Node* getFirstChild() const override { return nullptr; }
    Node* getNextSibling() const override { return nullptr; }
    std::string getNodeName() const override { return std::string(name_); }
    std::string getNodeValue() const override { return std::string(value_); }
    NamedNodeMap* getAttributes() override { return nullptr; }
    std::string getName() const override { return std::string(name_); }
    std::string getValue() const override { return std::string(value_); }

   private:
    friend class AttributeMap;
    void dispose() override {}
    std::string_view name_;
    std::string_view value_;
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
