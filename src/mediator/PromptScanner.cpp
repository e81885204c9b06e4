#include <zubdm/mediator/PromptScanner.h>

#include <cstring>

#include <zubdm/common/CliDialect.h>

namespace zubdm {
namespace internal {

void PromptScanner::reset() {
  state_ = State::Searching;
  progress_ = 0;
  candidateStart_ = 0;
  candidateAtLineStart_ = false;
  fed_ = 0;
  onlyBlanks_ = true;
  last_ = '\0';
}

void PromptScanner::reject() {
  // Scanning goes on after the "#", which starts no line.
  state_ = State::Searching;
  progress_ = 0;
}

void PromptScanner::accept() { state_ = State::Matched; }

bool PromptScanner::lineStartsAt(const char* data, size_t index) const {
  if (onlyBlanks_) return true;
  const char before = index > 0 ? data[index - 1] : last_;
  return dialect::isLineEnd(before);
}

bool PromptScanner::extendCandidate(char byte) {
  const std::string_view start = dialect::kPromptStart;
  if (progress_ < start.size()) {
    if (byte != start[progress_]) return false;
    ++progress_;
    return true;
  }
  if (byte == dialect::kPromptEnd) {
    state_ = candidateAtLineStart_ ? State::Matched : State::Tentative;
    return true;
  }
  if (!dialect::isPromptBody(byte) || progress_ - start.size() == dialect::kMaxPromptBody) {
    return false;
  }
  ++progress_;
  return true;
}

size_t PromptScanner::feed(const char* data, size_t length) {
  size_t i = 0;
  while (i < length && state_ == State::Searching) {
    if (progress_ > 0) {
      if (extendCandidate(data[i])) {
        ++i;
        continue;
      }
      // Not a prompt; the byte that ended it may begin the next one.
      progress_ = 0;
    }
    const void* found = std::memchr(data + i, dialect::kPromptStart[0], length - i);
    const size_t next = found == nullptr
                            ? length
                            : static_cast<size_t>(static_cast<const char*>(found) - data);
    for (size_t j = i; onlyBlanks_ && j < next; ++j) onlyBlanks_ = dialect::isBlank(data[j]);
    if (found == nullptr) {
      i = length;
      break;
    }
    candidateAtLineStart_ = lineStartsAt(data, next);
    candidateStart_ = fed_ + next;
    onlyBlanks_ = false;
    progress_ = 1;
    i = next + 1;
  }
  if (i > 0) last_ = data[i - 1];
  fed_ += i;
  return i;
}

}  // namespace internal
}  // namespace zubdm
