#include "mediator/PromptScanner.h"

#include <cstring>

#include "common/LineText.h"

namespace zubdm {
namespace internal {

constexpr size_t PromptScanner::MAX_PROMPT_BODY;

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
  return isLineEnd(before);
}

bool PromptScanner::extendCandidate(char byte) {
  static const char kStart[] = "HVB";
  if (progress_ < 3) {
    if (byte != kStart[progress_]) return false;
    ++progress_;
    return true;
  }
  if (byte == '#') {
    state_ = candidateAtLineStart_ ? State::Matched : State::Tentative;
    return true;
  }
  if (isBlank(byte) || isLineEnd(byte) || progress_ - 3 == MAX_PROMPT_BODY) {
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
    const void* found = std::memchr(data + i, 'H', length - i);
    const size_t next = found == nullptr
                            ? length
                            : static_cast<size_t>(static_cast<const char*>(found) - data);
    for (size_t j = i; onlyBlanks_ && j < next; ++j) onlyBlanks_ = isBlank(data[j]);
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
