#include "mediator/ReplyReader.h"

#include <algorithm>

#include "mediator/PromptMatcher.h"

namespace zubdm {
namespace internal {

namespace {

// One pipe's worth of bytes per read.
const size_t kReadSize = 65536;

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

ReplyReader::ReplyReader(ByteSource& source)
    : source_(source),
      scanned_(0),
      promptStart_(0),
      maxReply_(DEFAULT_MAX_REPLY),
      owed_(false),
      broken_(false) {}

void ReplyReader::reset() {
  buffer_.clear();
  buffer_.trim();
  scanned_ = 0;
  reply_ = std::string_view();
  prompt_.reset();
  promptStart_ = 0;
  owed_ = false;
  broken_ = false;
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
  for (;;) {
    // Bytes received earlier come first; a kept reply stops at the cap.
    size_t length = buffer_.size() - scanned_;
    if (keep == Keep::InBuffer) length = std::min(length, maxReply_ - scanned_);
    if (keep == Keep::InText) length = std::min(length, maxReply_ - text->size());
    const size_t used = matcher.feed(buffer_.data() + scanned_, length);
    if (keep == Keep::InText) text->append(buffer_.data() + scanned_, used);
    scanned_ += used;
    if (matcher.matched()) return Outcome::Complete;
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

ReplyReader::Outcome ReplyReader::readReply(Deadline deadline) {
  if (broken_) {
    handOut(0);
    return Outcome::TooLarge;
  }
  prompt_.reset();
  const Outcome outcome = scan(prompt_, Keep::InBuffer, nullptr, deadline);
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
  const Outcome outcome = scan(prompt_, Keep::Nothing, nullptr, deadline);
  if (outcome == Outcome::Complete) {
    owed_ = false;
    buffer_.dropFront(scanned_);
    scanned_ = 0;
  }
  return outcome;
}

ReplyReader::Outcome ReplyReader::skipPast(const char* text, Deadline deadline) {
  PromptMatcher matcher(text);
  const Outcome outcome = scan(matcher, Keep::Nothing, nullptr, deadline);
  buffer_.dropFront(scanned_);
  scanned_ = 0;
  return outcome;
}

ReplyReader::Outcome ReplyReader::readThrough(const char* text,
                                              std::string& into,
                                              Deadline deadline) {
  PromptMatcher matcher(text);
  const Outcome outcome = scan(matcher, Keep::InText, &into, deadline);
  buffer_.dropFront(scanned_);
  scanned_ = 0;
  return outcome;
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
