#include "mediator/ReplyReader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "common/LineText.h"
#include "mediator/PromptMatcher.h"

namespace zubdm {
namespace internal {

namespace {

// One pipe's worth of bytes per read.
const size_t kReadSize = 65536;
// How long a CLI must stay silent after a prompt-like text that does not
// start a line for it to be taken for the prompt.
const std::chrono::milliseconds kQuietAfterPrompt{50};

// Whether a matcher has found what it looks for (a prompt tentatively).
bool stopped(const PromptMatcher& matcher) { return matcher.matched(); }
bool stopped(const PromptScanner& scanner) {
  return scanner.matched() || scanner.tentative();
}

bool isBlankOrLineEnd(char byte) { return isBlank(byte) || isLineEnd(byte); }

ReplyReader::Outcome outcomeOf(ByteSource::Status status) {
  switch (status) {
    case ByteSource::Status::TimedOut:
      return ReplyReader::Outcome::TimedOut;
    case ByteSource::Status::Cancelled:
      return ReplyReader::Outcome::Cancelled;
    case ByteSource::Status::Closed:
      return ReplyReader::Outcome::Closed;
    default:
      return ReplyReader::Outcome::Failed;
  }
}

}  // namespace

constexpr size_t ReplyReader::DEFAULT_MAX_REPLY;
constexpr size_t ReplyReader::TAIL_SIZE;

ReplyReader::ReplyReader(ByteSource& source)
    : source_(source),
      scanned_(0),
      promptStart_(0),
      maxReply_(DEFAULT_MAX_REPLY),
      owed_(false),
      broken_(false),
      tail_(),
      tailLength_(0) {}

void ReplyReader::reset() {
  buffer_.clear();
  buffer_.trim();
  scanned_ = 0;
  reply_ = std::string_view();
  prompt_.reset();
  promptStart_ = 0;
  owed_ = false;
  broken_ = false;
  tailLength_ = 0;
}

void ReplyReader::handOut(size_t length) {
  // The reply handed out by the last call is done with.
  buffer_.dropFront(reply_.size());
  reply_ = std::string_view(buffer_.data(), length);
}

void ReplyReader::releaseReply() {
  handOut(0);
  buffer_.trim();
}

ReplyReader::Outcome ReplyReader::fill(Deadline deadline) {
  char* room = buffer_.spare(kReadSize);
  if (room == nullptr) return Outcome::OutOfMemory;
  const ByteSource::Result got = source_.read(room, kReadSize, deadline);
  if (got.status != ByteSource::Status::Data) return outcomeOf(got.status);
  buffer_.commit(got.count);
  return Outcome::Complete;
}

template <class Matcher>
ReplyReader::Outcome ReplyReader::scan(Matcher& matcher, Keep keep,
                                       std::string* text, Deadline deadline) {
  handOut(0);
  scanned_ = 0;
  return resume(matcher, keep, text, deadline);
}

template <class Matcher>
ReplyReader::Outcome ReplyReader::resume(Matcher& matcher, Keep keep,
                                         std::string* text, Deadline deadline) {
  for (;;) {
    // Bytes received earlier come first; a kept reply stops at the cap.
    size_t length = buffer_.size() - scanned_;
    if (keep == Keep::InBuffer) length = std::min(length, maxReply_ - scanned_);
    if (keep == Keep::InText) length = std::min(length, maxReply_ - text->size());
    const size_t used = matcher.feed(buffer_.data() + scanned_, length);
    if (keep == Keep::InText) text->append(buffer_.data() + scanned_, used);
    scanned_ += used;
    if (stopped(matcher)) return Outcome::Complete;
    if (keep != Keep::InBuffer) {
      buffer_.dropFront(scanned_);
      scanned_ = 0;
    }
    if ((keep == Keep::InBuffer && scanned_ >= maxReply_) ||
        (keep == Keep::InText && text->size() >= maxReply_)) {
      return Outcome::TooLarge;
    }
    const Outcome filled = fill(deadline);
    if (filled != Outcome::Complete) return filled;
  }
}

ReplyReader::Outcome ReplyReader::scanForPrompt(Keep keep, Deadline deadline) {
  Outcome outcome = scan(prompt_, keep, nullptr, deadline);
  // A prompt-like text that does not start a line is the prompt only when
  // nothing follows it for a moment but blanks, which CLIs write after
  // their prompts ("HVB# ").
  while (outcome == Outcome::Complete && prompt_.tentative()) {
    if (std::all_of(buffer_.data() + scanned_, buffer_.data() + buffer_.size(), isBlank)) {
      const Outcome more =
          fill(std::min(deadline, Clock::now() + kQuietAfterPrompt));
      if (more == Outcome::TimedOut || more == Outcome::Closed) {
        prompt_.accept();
        break;
      }
      if (more != Outcome::Complete) return more;
      continue;
    }
    prompt_.reject();
    if (keep == Keep::Nothing) {
      buffer_.dropFront(scanned_);
      scanned_ = 0;
    }
    outcome = resume(prompt_, keep, nullptr, deadline);
  }
  return outcome;
}

ReplyReader::Outcome ReplyReader::readReply(Deadline deadline) {
  if (broken_) {
    handOut(0);
    return Outcome::TooLarge;
  }
  prompt_.reset();
  tailLength_ = 0;
  const Outcome outcome = scanForPrompt(Keep::InBuffer, deadline);
  if (outcome != Outcome::Complete) {
    tailLength_ = std::min(scanned_, TAIL_SIZE);
    std::memcpy(tail_, buffer_.data() + scanned_ - tailLength_, tailLength_);
  }
  switch (outcome) {
    case Outcome::Complete:
      handOut(scanned_);
      promptStart_ = prompt_.promptStart();
      return outcome;
    case Outcome::TimedOut:
    case Outcome::Cancelled:
      // The rest is still to come; the scanner keeps its place in it.
      owed_ = true;
      break;
    case Outcome::TooLarge:
    case Outcome::OutOfMemory:
      broken_ = true;
      break;
    default:
      break;
  }
  buffer_.dropFront(scanned_);
  buffer_.trim();
  scanned_ = 0;
  return outcome;
}

ReplyReader::Outcome ReplyReader::dropOwedReply(Deadline deadline) {
  if (!owed_) return Outcome::Complete;
  const Outcome outcome = scanForPrompt(Keep::Nothing, deadline);
  if (outcome == Outcome::Complete) {
    owed_ = false;
    buffer_.dropFront(scanned_);
    scanned_ = 0;
  }
  return outcome;
}

ReplyReader::Outcome ReplyReader::skipPast(const char* text, Deadline deadline) {
  return scanForText(text, Keep::Nothing, nullptr, deadline);
}

ReplyReader::Outcome ReplyReader::readThrough(const char* text,
                                              std::string& into,
                                              Deadline deadline) {
  return scanForText(text, Keep::InText, &into, deadline);
}

ReplyReader::Outcome ReplyReader::scanForText(const char* text, Keep keep,
                                              std::string* into, Deadline deadline) {
  Outcome outcome = Outcome::OutOfMemory;
  try {
    PromptMatcher matcher(text);
    outcome = scan(matcher, keep, into, deadline);
  } catch (const std::bad_alloc&) {
    // The matcher's table, or `into` growing: what went into `into` is
    // dropped below, the rest stays for the next read.
  }
  buffer_.dropFront(scanned_);
  scanned_ = 0;
  return outcome;
}

size_t ReplyReader::dropLeftover() {
  handOut(0);
  absorb();
  size_t dropped = 0;
  for (size_t i = 0; i < buffer_.size(); ++i) {
    if (!isBlankOrLineEnd(buffer_.data()[i])) ++dropped;
  }
  buffer_.clear();
  buffer_.trim();
  return dropped;
}

ByteSource::Status ReplyReader::absorb() {
  handOut(0);
  for (;;) {
    // A CLI that floods while it is written to is a runaway one.
    if (buffer_.size() >= maxReply_) {
      broken_ = true;
      return ByteSource::Status::Failed;
    }
    char* room = buffer_.spare(kReadSize);
    if (room == nullptr) {
      broken_ = true;
      return ByteSource::Status::Failed;
    }
    const ByteSource::Result got = source_.readNow(room, kReadSize);
    if (got.status != ByteSource::Status::Data) return got.status;
    buffer_.commit(got.count);
  }
}

}  // namespace internal
}  // namespace zubdm
