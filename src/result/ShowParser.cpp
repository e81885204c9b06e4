#include <zubdm/result/ShowParser.h>

#include <algorithm>
#include <cstring>

#include <zubdm/common/CliDialect.h>
#include <zubdm/common/TextSearch.h>

namespace zubdm {
namespace internal {

namespace {

using dialect::kShowEnd;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::size_t ShowParser::documentStart(std::string_view output) {
  const std::size_t start = dialect::showStart(output);
  return start == std::string_view::npos ? 0 : start;
}

ShowParser::~ShowParser() { abandon(); }

namespace {

// Four independent lanes, one multiply per eight bytes each: a reply of
// many MiB takes about a millisecond, touched while it is in cache.
std::uint64_t mix(std::uint64_t state, std::uint64_t word) {
  state ^= word;
  state *= 0xFF51AFD7ED558CCDu;
  return state ^ (state >> 29);
}

}  // namespace

void ShowParser::Digest::block(const char* data) {
  for (std::size_t lane = 0; lane < 4; ++lane) {
    std::uint64_t word = 0;
    std::memcpy(&word, data + 8 * lane, sizeof word);
    state_[lane] = mix(state_[lane], word);
  }
}

void ShowParser::Digest::add(const char* data, std::size_t size) {
  length_ += size;
  if (pendingSize_ != 0) {
    const std::size_t fill = std::min(size, sizeof pending_ - pendingSize_);
    std::memcpy(pending_ + pendingSize_, data, fill);
    pendingSize_ += fill;
    data += fill;
    size -= fill;
    if (pendingSize_ < sizeof pending_) return;
    block(pending_);
    pendingSize_ = 0;
  }
  for (; size >= sizeof pending_; data += sizeof pending_, size -= sizeof pending_) block(data);
  std::memcpy(pending_, data, size);
  pendingSize_ = size;
}

std::uint64_t ShowParser::Digest::value() const {
  Digest last = *this;
  std::memset(last.pending_ + pendingSize_, 0, sizeof pending_ - pendingSize_);
  last.block(last.pending_);
  std::uint64_t value = length_;
  for (std::uint64_t lane : last.state_) value = mix(value, lane);
  return value;
}

std::uint64_t ShowParser::digestOf(std::string_view bytes) {
  Digest digest;
  digest.add(bytes.data(), bytes.size());
  return digest.value();
}

void ShowParser::abandon() noexcept {
  parser_.abandon();
  if (document_ != nullptr) document_->release();
  document_ = nullptr;
  finished_ = false;
  outcome_ = Outcome::Blank;
  ended_ = false;
  length_ = 0;
  digest_ = Digest();
  content_ = false;
  carrySize_ = 0;
}

std::size_t ShowParser::findEnd(const char* data, std::size_t size) {
  constexpr std::size_t kKeep = sizeof carry_;
  static_assert(kKeep == kShowEnd.size() - 1, "an end begun before a piece");
  std::size_t end = std::string_view::npos;
  // "</SHOW>" cannot overlap itself, so an end begun in the bytes carried
  // over is the first one.
  if (carrySize_ != 0) {
    char window[2 * kKeep];
    const std::size_t head = std::min(size, kKeep);
    std::memcpy(window, carry_, carrySize_);
    std::memcpy(window + carrySize_, data, head);
    const std::size_t at =
        findText(std::string_view(window, carrySize_ + head), kShowEnd);
    if (at != std::string_view::npos) {
      end = at + kShowEnd.size() - carrySize_;
    }
  }
  if (end == std::string_view::npos) {
    const std::size_t at = findText(std::string_view(data, size), kShowEnd);
    if (at != std::string_view::npos) end = at + kShowEnd.size();
  }
  if (size >= kKeep) {
    std::memcpy(carry_, data + size - kKeep, kKeep);
    carrySize_ = kKeep;
  } else {
    const std::size_t keep = std::min(kKeep - size, carrySize_);
    std::memmove(carry_, carry_ + carrySize_ - keep, keep);
    std::memcpy(carry_ + keep, data, size);
    carrySize_ = keep + size;
  }
  return end;
}

std::size_t ShowParser::feed(const char* data, std::size_t size, bool last) noexcept {
  if (ended_ || finished_) return 0;
  std::size_t taken = size;
  const std::size_t end = findEnd(data, size);
  if (end != std::string_view::npos) {
    taken = end;
    ended_ = true;
  }
  for (std::size_t i = 0; !content_ && i < taken; ++i) content_ = !isBlank(data[i]);
  // Nothing at all (the empty output of most commands) needs no parser.
  if (taken > 0 || content_) parser_.feed(data, taken, last || ended_);
  length_ += taken;
  if (borrow_) digest_.add(data, taken);
  return taken;
}

ShowParser::Outcome ShowParser::finish() noexcept {
  if (finished_) return outcome_;
  finished_ = true;
  if (!content_) {
    parser_.abandon();
    outcome_ = Outcome::Blank;
  } else {
    document_ = parser_.finish();
    outcome_ = document_ != nullptr ? Outcome::Document : Outcome::Failed;
  }
  return outcome_;
}

TAV::XML::Node* ShowParser::takeDocument() noexcept {
  TAV::XML::Node* document = document_;
  document_ = nullptr;
  return document;
}

}  // namespace internal
}  // namespace zubdm
