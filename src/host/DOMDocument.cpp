#include <zubdm/host/DOMDocument.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include <zubdm/host/TextKeeper.h>

namespace TAV {
namespace XML {

namespace {

// The first byte of a record: its kind, and whether its first child follows
// its attributes. A zero byte where an entry would start means the rest of
// the chunk is unused: entries never cross chunks.
enum : unsigned char {
  kSkip = 0,
  kElement = 1,
  kText = 2,
  kComment = 3,
  kKindMask = 3,
  kHasChildren = 4,
};

constexpr std::size_t kChunkSize = std::size_t{1} << 16;
constexpr std::size_t kFirstChunk = 1024;
// Values and texts longer than this live apart from the records, so that an
// entry always fits a chunk and a long value wastes no chunk's end.
constexpr std::size_t kInlineLimit = 2048;
constexpr std::size_t kMaxVarint = 10;
// The kind, the next sibling, and two numbers (name and attribute count),
// or the kind, the next sibling and a payload's length.
constexpr std::size_t kMaxHeader = 1 + 4 + 2 * kMaxVarint;
constexpr std::size_t kSmallBlock = 4096;
// Offsets are 32 bits: at most this many chunks.
constexpr std::size_t kMaxChunks = std::size_t{1} << 16;

char* putVarint(char* out, std::uint64_t value) {
  while (value >= 0x80) {
    *out++ = static_cast<char>(value | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<char>(value);
  return out;
}

const char* getVarint(const char* in, std::uint64_t& value) {
  auto byte = static_cast<unsigned char>(*in++);
  value = byte;
  if (byte < 0x80) return in;
  value &= 0x7f;
  for (unsigned shift = 7;; shift += 7) {
    byte = static_cast<unsigned char>(*in++);
    value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
    if (byte < 0x80) return in;
  }
}

// A payload is its length times four and a form in the low two bits: its
// bytes follow (0), a pointer to where they live apart follows (1), or the
// place of the borrowed bytes in the lent text follows (2).
enum : unsigned { kInline = 0, kApart = 1, kBorrowed = 2, kFormMask = 3 };

char* putPayload(char* out, const char* data, std::size_t length,
                 const char* apart) {
  if (apart != nullptr) {
    out = putVarint(out, (static_cast<std::uint64_t>(length) << 2) | kApart);
    std::memcpy(out, &apart, sizeof apart);
    return out + sizeof apart;
  }
  out = putVarint(out, static_cast<std::uint64_t>(length) << 2);
  if (length != 0) std::memcpy(out, data, length);
  return out + length;
}

char* putBorrowed(char* out, std::uint64_t place, std::size_t length) {
  out = putVarint(out, (static_cast<std::uint64_t>(length) << 2) | kBorrowed);
  return putVarint(out, place);
}

// A payload that lives apart or is borrowed, and where the entry goes on.
// `lent` is the lent text from place 0 on; a borrowed payload outside it
// (none is lent yet) reads as empty. Returned by value: handed back through
// the caller's variable, the payload would live in memory on the inline
// path too, and reading it whole after two narrower writes stalls.
struct Elsewhere {
  const char* data;
  std::size_t size;
  const char* next;
};

Elsewhere getPayloadElsewhere(const char* in, std::uint64_t length, std::string_view lent) {
  const auto size = static_cast<std::size_t>(length >> 2);
  if ((length & kFormMask) == kApart) {
    const char* apart = nullptr;
    std::memcpy(&apart, in, sizeof apart);
    return Elsewhere{apart, size, in + sizeof apart};
  }
  std::uint64_t place = 0;
  in = getVarint(in, place);
  if (place <= lent.size() && size <= lent.size() - place) {
    return Elsewhere{lent.data() + place, size, in};
  }
  return Elsewhere{nullptr, 0, in};
}

inline const char* getPayload(const char* in, std::string_view& payload,
                              std::string_view lent) {
  std::uint64_t length = 0;
  in = getVarint(in, length);
  if ((length & kFormMask) != kInline) {
    const Elsewhere found = getPayloadElsewhere(in, length, lent);
    payload = std::string_view(found.data, found.size);
    return found.next;
  }
  const auto size = static_cast<std::size_t>(length >> 2);
  payload = std::string_view(in, size);
  return in + size;
}

std::size_t roundUp(std::size_t size, std::size_t unit) {
  return (size + unit - 1) / unit * unit;
}

// Where a record's node is looked for first in a table of `mask` + 1 slots.
std::size_t slotOf(std::uint32_t record, std::size_t mask) {
  const std::uint32_t hash = record * 0x9E3779B1u;
  return static_cast<std::size_t>(hash) & mask;
}

}  // namespace

static_assert(std::is_trivially_destructible<DOMDocument::RecordNode>::value,
              "nodes are freed with their block, without destruction");

// The attributes of one element, in document order.
class DOMDocument::Attributes {
 public:
  Attributes(const DOMDocument& document, Record element)
      : document_(document), lent_(document.lent()) {
    const char* start = document.at(element);
    std::uint64_t name = 0;
    const char* in = getVarint(getVarint(start + 5, name), left_);
    at_ = element + static_cast<Record>(in - start);
  }

  std::uint64_t count() const { return left_; }

  // The next attribute's name and value; false after the last one.
  bool next(std::string_view& name, std::string_view& value) {
    if (left_ == 0) return false;
    --left_;
    at_ = document_.following(at_);
    const char* start = document_.at(at_);
    std::uint64_t number = 0;
    const char* in = getPayload(getVarint(start, number), value, lent_);
    const Name& stored = document_.names_[static_cast<std::size_t>(number)];
    name = std::string_view(stored.text, stored.length);
    at_ += static_cast<Record>(in - start);
    return true;
  }

  // Where the record after the attributes starts (the first child).
  Record end() {
    std::string_view name, value;
    while (next(name, value)) {
    }
    return document_.following(at_);
  }

 private:
  const DOMDocument& document_;
  const std::string_view lent_;
  Record at_;
  std::uint64_t left_ = 0;
};

DOMDocument* DOMDocument::create() noexcept {
  DOMDocument* document = new (std::nothrow) DOMDocument;
  if (document == nullptr) return nullptr;
  try {
    document->open_.reserve(16);
    document->open_.push_back(Open{kNoRecord, kNoRecord});
    document->names_.reserve(16);
    document->names_.push_back(Name{"", 0});  // 0 names no name
  } catch (const std::bad_alloc&) {
    delete document;
    return nullptr;
  }
  return document;
}

DOMDocument::~DOMDocument() {
  for (char* chunk : chunks_) std::free(chunk);
  for (char* block : nameBlocks_) std::free(block);
  for (char* block : apart_) std::free(block);
  for (char* block : nodeBlocks_) std::free(block);
  if (keeper_ != nullptr) keeper_->release();
}

char* DOMDocument::reserve(std::size_t size) noexcept {
  const std::size_t last = chunks_.empty() ? 0 : chunks_.size() - 1;
  const auto used =
      static_cast<std::size_t>(end_ - (static_cast<std::uint64_t>(last) << kChunkShift));
  if (!chunks_.empty() && used + size <= lastChunkSize_) {
    return chunks_.back() + used;
  }
  // The first chunk grows to full size before a second one is made: every
  // chunk but the last is full, so an offset names its chunk by its top bits.
  if (chunks_.size() <= 1 && lastChunkSize_ < kChunkSize) {
    std::size_t grown = std::max(kFirstChunk, lastChunkSize_ * 2);
    while (grown < used + size && grown < kChunkSize) grown *= 2;
    grown = std::min(grown, kChunkSize);
    char* chunk = static_cast<char*>(
        std::realloc(chunks_.empty() ? nullptr : chunks_[0], grown));
    if (chunk == nullptr) return nullptr;
    if (chunks_.empty()) {
      try {
        chunks_.push_back(chunk);
      } catch (const std::bad_alloc&) {
        std::free(chunk);
        return nullptr;
      }
    }
    chunks_[0] = chunk;
    lastChunkSize_ = grown;
    if (used + size <= grown) return chunk + used;
  }
  if (chunks_.size() >= kMaxChunks) return nullptr;
  char* chunk = static_cast<char*>(std::malloc(kChunkSize));
  if (chunk == nullptr) return nullptr;
  try {
    chunks_.push_back(chunk);
  } catch (const std::bad_alloc&) {
    std::free(chunk);
    return nullptr;
  }
  if (used < lastChunkSize_) chunks_[last][used] = static_cast<char>(kSkip);
  lastChunkSize_ = kChunkSize;
  end_ = static_cast<std::uint64_t>(chunks_.size() - 1) << kChunkShift;
  return chunk;
}

void* DOMDocument::allocateSmall(std::vector<char*>& blocks, char*& next,
                                 std::size_t& left, std::size_t size) noexcept {
  size = roundUp(size, alignof(void*));
  if (size > left) {
    const std::size_t blockSize = std::max(kSmallBlock, size);
    char* block = static_cast<char*>(std::malloc(blockSize));
    if (block == nullptr) return nullptr;
    try {
      blocks.push_back(block);
    } catch (const std::bad_alloc&) {
      std::free(block);
      return nullptr;
    }
    next = block;
    left = blockSize;
  }
  void* result = next;
  next += size;
  left -= size;
  return result;
}

char* DOMDocument::allocateApart(std::size_t size) noexcept {
  char* block = static_cast<char*>(std::malloc(size));
  if (block == nullptr) return nullptr;
  try {
    apart_.push_back(block);
  } catch (const std::bad_alloc&) {
    std::free(block);
    return nullptr;
  }
  apartBytes_ += size;
  return block;
}

std::uint32_t DOMDocument::nameNumber(const char* name) noexcept {
  // Names are short: one loop measures and hashes.
  std::uint32_t hash = 2166136261u;
  const char* end = name;
  for (; *end != '\0'; ++end) {
    hash = (hash ^ static_cast<unsigned char>(*end)) * 16777619u;
  }
  const auto length = static_cast<std::size_t>(end - name);
  std::uint32_t& cached = nameCache_[(hash ^ (hash >> 15)) % kNameCache];
  if (cached != 0) {
    const Name& known = names_[cached];
    if (known.length == length && std::memcmp(known.text, name, length) == 0) {
      return cached;
    }
  }
  if (names_.size() >= UINT32_MAX || length >= UINT32_MAX) return 0;
  const std::size_t before = nameBlocks_.size();
  char* text = static_cast<char*>(
      allocateSmall(nameBlocks_, nameNext_, nameLeft_, length + 1));
  if (text == nullptr) return 0;
  if (nameBlocks_.size() != before) {
    nameBytes_ += std::max(kSmallBlock, roundUp(length + 1, alignof(void*)));
  }
  std::memcpy(text, name, length + 1);
  try {
    names_.push_back(Name{text, static_cast<std::uint32_t>(length)});
  } catch (const std::bad_alloc&) {
    return 0;
  }
  cached = static_cast<std::uint32_t>(names_.size() - 1);
  return cached;
}

void DOMDocument::link(Record record) noexcept {
  Open& open = open_.back();
  if (open.lastChild != kNoRecord) {
    std::memcpy(at(open.lastChild) + 1, &record, sizeof record);
  } else if (open.parent != kNoRecord) {
    *at(open.parent) = static_cast<char>(*at(open.parent) | kHasChildren);
  } else {
    first_ = record;
  }
  open.lastChild = record;
}

bool DOMDocument::startElement(const char* name, const char* const* attributes,
                               const std::uint64_t* places) noexcept {
  const std::uint32_t number = nameNumber(name);
  if (number == 0) return false;
  std::size_t count = 0;
  while (attributes[2 * count] != nullptr) ++count;
  // The open list has room for the element before anything is written.
  if (open_.size() == open_.capacity()) {
    try {
      open_.reserve(open_.capacity() * 2);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  char* out = reserve(kMaxHeader);
  if (out == nullptr) return false;
  const auto record = static_cast<Record>(end_);
  const Record none = kNoRecord;
  out[0] = static_cast<char>(kElement);
  std::memcpy(out + 1, &none, sizeof none);
  char* end = putVarint(putVarint(out + 5, number), count);
  end_ += static_cast<std::uint64_t>(end - out);
  link(record);

  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t attributeName = nameNumber(attributes[2 * i]);
    if (attributeName == 0) return false;
    const char* value = attributes[2 * i + 1];
    const std::size_t length = std::strlen(value);
    if (places != nullptr && places[i] != kCopied) {
      out = reserve(3 * kMaxVarint);
      if (out == nullptr) return false;
      end = putBorrowed(putVarint(out, attributeName), places[i], length);
      end_ += static_cast<std::uint64_t>(end - out);
      borrowedEnd_ = std::max<std::uint64_t>(borrowedEnd_, places[i] + length);
      continue;
    }
    const char* apart = nullptr;
    if (length > kInlineLimit) {
      char* copy = allocateApart(length);
      if (copy == nullptr) return false;
      std::copy_n(value, length, copy);
      apart = copy;
    }
    out = reserve(2 * kMaxVarint + (apart != nullptr ? sizeof apart : length));
    if (out == nullptr) return false;
    end = putPayload(putVarint(out, attributeName), value, length, apart);
    end_ += static_cast<std::uint64_t>(end - out);
  }
  open_.push_back(Open{record, kNoRecord});
  return true;
}

void DOMDocument::endElement() noexcept {
  if (open_.size() > 1) open_.pop_back();
}

bool DOMDocument::addCharacters(NodeType type, const char* data,
                                std::size_t length, char* adopted) noexcept {
  const char* apart = adopted;
  if (adopted != nullptr) {
    try {
      apart_.push_back(adopted);
    } catch (const std::bad_alloc&) {
      std::free(adopted);
      return false;
    }
    apartBytes_ += length;
  } else if (length > kInlineLimit) {
    char* copy = allocateApart(length);
    if (copy == nullptr) return false;
    std::copy_n(data, length, copy);
    apart = copy;
  }
  char* out = reserve(kMaxHeader + (apart != nullptr ? sizeof apart : length));
  if (out == nullptr) return false;
  const auto record = static_cast<Record>(end_);
  const Record none = kNoRecord;
  out[0] = static_cast<char>(type == COMMENT_NODE ? kComment : kText);
  std::memcpy(out + 1, &none, sizeof none);
  char* end = putPayload(out + 5, data, length, apart);
  end_ += static_cast<std::uint64_t>(end - out);
  link(record);
  return true;
}

bool DOMDocument::addBorrowedText(std::uint64_t place,
                                  std::size_t length) noexcept {
  char* out = reserve(kMaxHeader);
  if (out == nullptr) return false;
  const auto record = static_cast<Record>(end_);
  const Record none = kNoRecord;
  out[0] = static_cast<char>(kText);
  std::memcpy(out + 1, &none, sizeof none);
  char* end = putBorrowed(out + 5, place, length);
  end_ += static_cast<std::uint64_t>(end - out);
  link(record);
  borrowedEnd_ = std::max<std::uint64_t>(borrowedEnd_, place + length);
  return true;
}

bool DOMDocument::lendFrom(zubdm::internal::TextKeeper* keeper,
                           const std::string& text, std::size_t at) noexcept {
  if (keeper == nullptr || lent_ != nullptr || at > text.size() ||
      borrowedEnd_ > text.size() - at) {
    return false;
  }
  keeper->addRef();
  keeper_ = keeper;
  lent_ = &text;
  lentAt_ = at;
  return true;
}

bool DOMDocument::addCharacterNode(NodeType type, const char* data,
                                   std::size_t length) noexcept {
  if (data == nullptr && length != 0) return false;
  return addCharacters(type, data, length, nullptr);
}

bool DOMDocument::adoptCharacterNode(NodeType type, char* data,
                                     std::size_t length) noexcept {
  if (data == nullptr) return false;
  return addCharacters(type, data, length, data);
}

void DOMDocument::endBuilding() noexcept {
  std::vector<Open>().swap(open_);
  if (chunks_.empty()) return;
  const std::size_t last = chunks_.size() - 1;
  const auto used =
      static_cast<std::size_t>(end_ - (static_cast<std::uint64_t>(last) << kChunkShift));
  if (used < lastChunkSize_) {
    // Shrinking keeps the bytes; should the chunk move, only offsets point
    // into it so far.
    char* chunk = static_cast<char*>(std::realloc(chunks_[last], std::max<std::size_t>(used, 1)));
    if (chunk != nullptr) {
      chunks_[last] = chunk;
      lastChunkSize_ = std::max<std::size_t>(used, 1);
    }
  }
}

DOMDocument::Record DOMDocument::following(Record end) const {
  if ((end & kChunkMask) != 0 && *at(end) == static_cast<char>(kSkip)) {
    return (end | kChunkMask) + 1;
  }
  return end;
}

unsigned short DOMDocument::recordType(Record record) const {
  switch (*at(record) & kKindMask) {
    case kElement:
      return ELEMENT_NODE;
    case kComment:
      return COMMENT_NODE;
    default:
      return TEXT_NODE;
  }
}

DOMDocument::Record DOMDocument::nextRecord(Record record) const {
  Record next = kNoRecord;
  std::memcpy(&next, at(record) + 1, sizeof next);
  return next;
}

DOMDocument::Record DOMDocument::firstChildRecord(Record record) const {
  if ((*at(record) & kHasChildren) == 0) return kNoRecord;
  return Attributes(*this, record).end();
}

std::string_view DOMDocument::recordName(Record record) const {
  std::uint64_t number = 0;
  getVarint(at(record) + 5, number);
  const Name& name = names_[static_cast<std::size_t>(number)];
  return std::string_view(name.text, name.length);
}

std::string_view DOMDocument::recordText(Record record) const {
  std::string_view text;
  getPayload(at(record) + 5, text, lent());
  return text;
}

bool DOMDocument::recordAttribute(Record record, std::string_view name,
                                  std::string_view& value) const {
  Attributes attributes(*this, record);
  std::string_view attributeName, attributeValue;
  while (attributes.next(attributeName, attributeValue)) {
    if (attributeName == name) {
      value = attributeValue;
      return true;
    }
  }
  return false;
}

std::size_t DOMDocument::bytesHeld() const {
  std::size_t bytes = sizeof *this;
  if (!chunks_.empty()) bytes += (chunks_.size() - 1) * kChunkSize + lastChunkSize_;
  bytes += chunks_.capacity() * sizeof(char*) + open_.capacity() * sizeof(Open);
  bytes += names_.capacity() * sizeof(Name) + nameBytes_ +
           nameBlocks_.capacity() * sizeof(char*);
  bytes += apartBytes_ + apart_.capacity() * sizeof(char*);
  bytes += nodeBlocks_.size() * kSmallBlock +
           nodeBlocks_.capacity() * sizeof(char*) +
           nodeTable_.capacity() * sizeof(void*);
  return bytes;
}

bool DOMDocument::growNodeTable() const {
  const std::size_t size = std::max<std::size_t>(64, nodeTable_.size() * 2);
  std::vector<RecordNode*> table;
  try {
    table.assign(size, nullptr);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (RecordNode* node : nodeTable_) {
    if (node == nullptr) continue;
    std::size_t slot = slotOf(node->record(), size - 1);
    while (table[slot] != nullptr) slot = (slot + 1) & (size - 1);
    table[slot] = node;
  }
  nodeTable_.swap(table);
  return true;
}

Node* DOMDocument::nodeAt(Record record) const {
  if (record == kNoRecord) return nullptr;
  if ((nodeCount_ + 1) * 2 > nodeTable_.size() && !growNodeTable()) {
    return nullptr;
  }
  const std::size_t mask = nodeTable_.size() - 1;
  std::size_t slot = slotOf(record, mask);
  while (RecordNode* node = nodeTable_[slot]) {
    if (node->record() == record) return node;
    slot = (slot + 1) & mask;
  }
  void* memory =
      allocateSmall(nodeBlocks_, nodeNext_, nodeLeft_, sizeof(RecordNode));
  if (memory == nullptr) return nullptr;
  auto* node = new (memory) RecordNode(record, const_cast<DOMDocument*>(this));
  nodeTable_[slot] = node;
  ++nodeCount_;
  return node;
}

Node* DOMDocument::getFirstChild() const { return nodeAt(first_); }

unsigned short DOMDocument::RecordNode::getNodeType() const {
  return document_->recordType(record_);
}

Node* DOMDocument::RecordNode::getFirstChild() const {
  return document_->nodeAt(document_->firstChildRecord(record_));
}

Node* DOMDocument::RecordNode::getNextSibling() const {
  return document_->nodeAt(document_->nextRecord(record_));
}

std::string DOMDocument::RecordNode::getNodeName() const {
  switch (document_->recordType(record_)) {
    case ELEMENT_NODE:
      return std::string(document_->recordName(record_));
    case COMMENT_NODE:
      return "#comment";
    default:
      return "#text";
  }
}

std::string DOMDocument::RecordNode::getNodeValue() const {
  if (document_->recordType(record_) == ELEMENT_NODE) return std::string();
  return std::string(document_->recordText(record_));
}

NamedNodeMap* DOMDocument::RecordNode::getAttributes() {
  if (document_->recordType(record_) != ELEMENT_NODE) return nullptr;
  return AttributeMap::create(document_, record_);
}

// A map and its items share one allocation: the items follow the map.
DOMDocument::AttributeMap* DOMDocument::AttributeMap::create(
    DOMDocument* document, Record element) {
  Attributes attributes(*document, element);
  // Maps count their attributes in unsigned int.
  if (attributes.count() > UINT_MAX) return nullptr;
  const auto count = static_cast<unsigned int>(attributes.count());
  const std::size_t offset = roundUp(sizeof(AttributeMap), alignof(Item));
  void* memory = ::operator new(offset + count * sizeof(Item), std::nothrow);
  if (memory == nullptr) return nullptr;
  auto* map = new (memory) AttributeMap(document, count);
  Item* items = map->items();
  for (unsigned int i = 0; i < count; ++i) {
    Item* item = new (&items[i]) Item();
    attributes.next(item->name_, item->value_);
  }
  return map;
}

DOMDocument::AttributeMap::AttributeMap(DOMDocument* document,
                                        unsigned int count)
    : document_(document), count_(count) {
  document_->addRef();
}

DOMDocument::AttributeMap::~AttributeMap() { document_->release(); }

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
