#include "mediator/ReplyReader.h"

#include <algorithm>

#include "mediator/PromptMatcher.h"

namespace zubdm {
namespace internal {

namespace {

// Room for an ordinary reply from the start.
const size_t kFirstReserve = 8192;

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
      promptStart_(0),
      maxReply_(DEFAULT_MAX_REPLY),
      owed_(false),
      broken_(false) {}

void ReplyReader::reset() {
  pending_.clear();
  reply_.clear();
  prompt_.reset();
  promptStart_ = 0;
  owed_ = false;
  broken_ = false;
}

template <class Matcher>
size_t ReplyReader::consume(Matcher& matcher, std::string* sink,
                            const char* data, size_t length) {
  if (sink != nullptr) length = std::min(length, maxReply_ - sink->size());
  const size_t used = matcher.feed(data, length);
  if (sink != nullptr) sink->append(data, used);
  return used;
}

template <class Matcher>
ReplyReader::Outcome ReplyReader::scan(Matcher& matcher, std::string* sink,
                                       Deadline deadline) {
  const auto full = [&] { return sink != nullptr && sink->size() >= maxReply_; };
  if (full()) return Outcome::TooLarge;
  // Bytes that arrived before this call come first.
  if (!pending_.empty()) {
    pending_.erase(0, consume(matcher, sink, pending_.data(), pending_.size()));
    if (matcher.matched()) return Outcome::Complete;
    if (full()) return Outcome::TooLarge;
  }
  for (;;) {
    const ByteSource::Result got = source_.read(chunk_, sizeof chunk_, deadline);
    if (got.status != ByteSource::Status::Data) return outcomeOf(got.status);
    const size_t used = consume(matcher, sink, chunk_, got.count);
    pending_.append(chunk_ + used, got.count - used);
    if (matcher.matched()) return Outcome::Complete;
    if (full()) return Outcome::TooLarge;
  }
}

ReplyReader::Outcome ReplyReader::readReply(Deadline deadline) {
  reply_.clear();
  if (broken_) return Outcome::TooLarge;
  reply_.reserve(kFirstReserve);
  prompt_.reset();
  const Outcome outcome = scan(prompt_, &reply_, deadline);
  switch (outcome) {
    case Outcome::Complete:
      promptStart_ = prompt_.promptStart();
      return outcome;
    case Outcome::TimedOut:
    case Outcome::Cancelled:
      // The rest is still to come; the scanner keeps its place in it.
      owed_ = true;
      break;
    case Outcome::TooLarge:
      broken_ = true;
      break;
    default:
      break;
  }
  std::string().swap(reply_);
  return outcome;
}

ReplyReader::Outcome ReplyReader::dropOwedReply(Deadline deadline) {
  if (!owed_) return Outcome::Complete;
  const Outcome outcome = scan(prompt_, nullptr, deadline);
  if (outcome == Outcome::Complete) owed_ = false;
  return outcome;
}

ReplyReader::Outcome ReplyReader::skipPast(const char* text, Deadline deadline) {
  PromptMatcher matcher(text);
  return scan(matcher, nullptr, deadline);
}

ReplyReader::Outcome ReplyReader::readThrough(const char* text,
                                              std::string& into,
                                              Deadline deadline) {
  PromptMatcher matcher(text);
  return scan(matcher, &into, deadline);
}

ByteSource::Status ReplyReader::absorb() {
  for (;;) {
    const ByteSource::Result got = source_.readNow(chunk_, sizeof chunk_);
    if (got.status != ByteSource::Status::Data) return got.status;
    pending_.append(chunk_, got.count);
    // A CLI that floods while it is written to is a runaway one.
    if (pending_.size() >= maxReply_) {
      broken_ = true;
      return ByteSource::Status::Failed;
    }
  }
}

}  // namespace internal
}  // namespace zubdm
