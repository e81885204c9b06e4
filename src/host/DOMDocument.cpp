#include <zubdm/host/DOMDocument.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>


namespace TAV {
namespace XML {

namespace {

// Every node and record holds pointers and sizes only.
constexpr std::size_t kAlign = alignof(void*);
constexpr std::size_t kFirstBlock = std::size_t{16} * 1024;
constexpr std::size_t kLargestBlock = std::size_t{4} * 1024 * 1024;

std::size_t roundUp(std::size_t size, std::size_t unit) {
  return (size + unit - 1) / unit * unit;
}

}  // namespace

static_assert(std::is_trivially_destructible<DOMDocument::ChildNode>::value,
              "nodes are freed with their block, without destruction");
static_assert(alignof(DOMDocument::ChildNode) <= kAlign,
              "blocks are carved at pointer alignment");

DOMDocument::DOMDocument() = default;

DOMDocument::~DOMDocument() {
  for (void* block : blocks_) std::free(block);
}

void* DOMDocument::allocateBlock(std::size_t size) {
  void* block = std::malloc(size);
  if (block == nullptr) throw std::bad_alloc();
  try {
    blocks_.push_back(block);
  } catch (...) {
    std::free(block);
    throw;
  }
  return block;
}

void* DOMDocument::allocate(std::size_t size) {
  if (size > SIZE_MAX / 2) throw std::bad_alloc();
  size = roundUp(size, kAlign);
  if (size > left_) {
    const std::size_t growth =
        std::min(kLargestBlock,
                 kFirstBlock << std::min<std::size_t>(blocks_.size(), 16));
    // An oversized request gets a block of its own size.
    const std::size_t blockSize = std::max(growth, size);
    next_ = static_cast<char*>(allocateBlock(blockSize));
    left_ = blockSize;
  }
  void* result = next_;
  next_ += size;
  left_ -= size;
  return result;
}

Node* DOMDocument::getFirstChild() const { return firstChild_; }

const char* DOMDocument::store(const char* data, std::size_t length) {
  char* copy = static_cast<char*>(allocate(length + 1));
  std::memcpy(copy, data, length);
  copy[length] = '\0';
  return copy;
}

const char* DOMDocument::storeName(const char* name) {
  // XML names are never empty, so name[1] is at worst the terminator.
  const auto first = static_cast<unsigned char>(name[0]);
  const auto second = static_cast<unsigned char>(first ? name[1] : 0);
  const char*& recent = recentNames_[(first * 31 + second) % kNameCache];
  if (recent != nullptr) {
    // Names are short: a plain loop beats a call to strcmp.
    const char* a = recent;
    const char* b = name;
    while (*a == *b && *a != '\0') {
      ++a;
      ++b;
    }
    if (*a == *b) return recent;
  }
  recent = store(name, std::strlen(name));
  return recent;
}

DOMDocument::ChildNode* DOMDocument::createElement(const char* name,
                                                   const char** attributes) {
  std::size_t count = 0;
  while (attributes[2 * count] != nullptr) ++count;
  // Maps count their attributes in unsigned int.
  if (count > UINT_MAX) throw std::bad_alloc();

  AttributeList* list = nullptr;
  if (count != 0) {
    // The list, its names and its values share one run of the block.
    std::size_t size = sizeof(AttributeList) + count * sizeof(const char*);
    for (std::size_t i = 0; i < count; ++i) {
      size += std::strlen(attributes[2 * i + 1]) + 1;
    }
    list = static_cast<AttributeList*>(allocate(size));
    list->document = this;
    list->count = count;
    auto* names = reinterpret_cast<const char**>(list + 1);
    char* values = reinterpret_cast<char*>(names + count);
    char* const end = reinterpret_cast<char*>(list) + size;
    for (std::size_t i = 0; i < count; ++i) {
      names[i] = storeName(attributes[2 * i]);
      // The values' lengths add up to the room left, so the last one is
      // copied without measuring it again.
      const char* value = attributes[2 * i + 1];
      const std::size_t length =
          i + 1 == count ? static_cast<std::size_t>(end - values) - 1
                         : std::strlen(value);
      std::memcpy(values, value, length + 1);
      values += length + 1;
    }
  }
  return new (allocate(sizeof(ChildNode)))
      ChildNode(ELEMENT_NODE, storeName(name), list);
}

DOMDocument::ChildNode* DOMDocument::createCharacterNode(NodeType type,
                                                         const char* data,
                                                         std::size_t length) {
  const char* text = store(data, length);
  return new (allocate(sizeof(ChildNode))) ChildNode(type, text, length);
}

std::string DOMDocument::ChildNode::getNodeName() const {
  if (type_ == ELEMENT_NODE) return name_;
  return type_ == COMMENT_NODE ? "#comment" : "#text";
}

std::string DOMDocument::ChildNode::getNodeValue() const {
  if (type_ == ELEMENT_NODE) return std::string();
  return std::string(text_, length_);
}

NamedNodeMap* DOMDocument::ChildNode::getAttributes() {
  if (type_ != ELEMENT_NODE) return nullptr;
  return AttributeMap::create(attributes_);
}

// A map and its items share one allocation: the items follow the map.
DOMDocument::AttributeMap* DOMDocument::AttributeMap::create(
    const AttributeList* list) {
  const unsigned int count =
      list != nullptr ? static_cast<unsigned int>(list->count) : 0;
  const std::size_t offset = roundUp(sizeof(AttributeMap), alignof(Item));
  void* memory = ::operator new(offset + count * sizeof(Item), std::nothrow);
  if (memory == nullptr) return nullptr;
  auto* map = new (memory)
      AttributeMap(list != nullptr ? list->document : nullptr, count);
  Item* items = map->items();
  const char* value = count != 0 ? list->values() : nullptr;
  for (unsigned int i = 0; i < count; ++i) {
    new (&items[i]) Item();
    items[i].name_ = list->names()[i];
    items[i].value_ = value;
    value += std::strlen(value) + 1;
  }
  return map;
}

DOMDocument::AttributeMap::AttributeMap(DOMDocument* document,
                                        unsigned int count)
    : document_(document), count_(count) {
  if (document_ != nullptr) document_->addRef();
}

DOMDocument::AttributeMap::~AttributeMap() {
  if (document_ != nullptr) document_->release();
}

void DOMDocument::AttributeMap::dispose() {
  this->~AttributeMap();  // items are trivially destructible
  ::operator delete(static_cast<void*>(this));
}

DOMDocument::AttributeMap::Item* DOMDocument::AttributeMap::items() const {
  const std::size_t offset = roundUp(sizeof(AttributeMap), alignof(Item));
  return reinterpret_cast<Item*>(
      reinterpret_cast<char*>(const_cast<AttributeMap*>(this)) + offset);
}

Attr* DOMDocument::AttributeMap::item(unsigned int index) const {
  return index < count_ ? &items()[index] : nullptr;
}

}  // namespace XML
}  // namespace TAV
