#include <zubdm/mediator/ReplyReader.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include <zubdm/common/CliDialect.h>
#include <zubdm/mediator/PromptMatcher.h>

namespace zubdm {
namespace internal {

using ZUB_DEVICE_MEDIATION::FailureKind;

namespace {

// One pipe's worth of bytes per read.
const size_t kReadSize = 65536;
// How long a CLI must stay silent after a prompt-like text that does not
// start a line for it to be taken for the prompt.
const std::chrono::milliseconds kQuietAfterPrompt{50};
// How much of a reply cut off is looked at for a prompt redrawn in its
// last line.
const size_t kLastLine = 4096;

// Whether a matcher has found what it looks for (a prompt tentatively).
bool stopped(const PromptMatcher& matcher) { return matcher.matched(); }
bool stopped(const PromptScanner& scanner) { return scanner.matched() || scanner.tentative(); }

bool isBlankOrLineEnd(char byte) { return dialect::isBlank(byte) || dialect::isLineEnd(byte); }

}  // namespace

constexpr size_t ReplyReader::DEFAULT_MAX_REPLY;
constexpr size_t ReplyReader::TAIL_SIZE;

ReplyReader::ReplyReader(ByteSource& source)
    : source_(source),
      scanned_(0),
      reply_(0),
      promptStart_(0),
      maxReply_(DEFAULT_MAX_REPLY),
      owed_(false),
      tail_(),
      tailLength_(0) {}

void ReplyReader::reset() {
  buffer_.clear();
  buffer_.trim();
  scanned_ = 0;
  reply_ = 0;
  prompt_.reset();
  promptStart_ = 0;
  owed_ = false;
  tailLength_ = 0;
}

void ReplyReader::handOut(size_t length) {
  // The reply handed out by the last call is done with.
  buffer_.dropFront(reply_);
  reply_ = length;
}

void ReplyReader::releaseReply() {
  handOut(0);
  buffer_.trim();
}

std::string ReplyReader::replyText(size_t from, size_t to) const {
  return buffer_.copy(std::min(from, reply_), std::min(to, reply_));
}

void ReplyReader::takeReply(size_t from, std::string& out) {
  buffer_.moveOut(std::min(from, promptStart_), promptStart_, out);
  reply_ -= promptStart_;
  releaseReply();
}

bool ReplyReader::blankFrom(size_t from) const {
  for (size_t at = from; at < buffer_.size();) {
    const std::string_view bytes = buffer_.piece(at);
    if (!std::all_of(bytes.begin(), bytes.end(), dialect::isBlank)) return false;
    at += bytes.size();
  }
  return true;
}

ReplyReader::Failure ReplyReader::tooLarge() const {
  Failure failure = failureOf(FailureKind::ReplyTooLarge);
  failure.limit = maxReply_;
  return failure;
}

ReplyReader::Failure ReplyReader::fill(Deadline deadline) {
  const ReplyBuffer::Room room = buffer_.room();
  if (room.size == 0) return failureOf(FailureKind::OutOfMemory);
  ByteSource::Result got =
      source_.read(room.data, std::min(room.size, kReadSize), deadline);
  buffer_.commit(got.count);
  return got.failure;
}

template <class Matcher>
ReplyReader::Failure ReplyReader::scan(Matcher& matcher, Keep keep, std::string* text,
                                       Deadline deadline) {
  handOut(0);
  scanned_ = 0;
  return resume(matcher, keep, text, deadline);
}

template <class Matcher>
ReplyReader::Failure ReplyReader::resume(Matcher& matcher, Keep keep, std::string* text,
                                         Deadline deadline) {
  for (;;) {
    // Bytes received earlier come first; a kept reply stops at the cap.
    for (std::string_view bytes = buffer_.piece(scanned_); !bytes.empty();
         bytes = buffer_.piece(scanned_)) {
      size_t length = bytes.size();
      if (keep == Keep::InBuffer) length = std::min(length, maxReply_ - scanned_);
      if (keep == Keep::InText) length = std::min(length, maxReply_ - text->size());
      if (length == 0) break;
      const size_t used = matcher.feed(bytes.data(), length);
      if (keep == Keep::InText) text->append(bytes.data(), used);
      if (keep == Keep::InBuffer && tap_ != nullptr) tap_->take(bytes.substr(0, used));
      scanned_ += used;
      if (stopped(matcher)) return Failure();
    }
    if (keep != Keep::InBuffer) {
      buffer_.dropFront(scanned_);
      scanned_ = 0;
    }
    if ((keep == Keep::InBuffer && scanned_ >= maxReply_) ||
        (keep == Keep::InText && text->size() >= maxReply_)) {
      return tooLarge();
    }
    Failure failure = fill(deadline);
    if (failure) return failure;
  }
}

ReplyReader::Failure ReplyReader::scanForPrompt(Keep keep, Deadline deadline) {
  Failure failure = scan(prompt_, keep, nullptr, deadline);
  // A prompt is the last thing the CLI writes before it waits: a
  // prompt-like text followed by anything but blanks ("HVB-x#1 up") is
  // output. At a line start it is the prompt once the CLI has stopped
  // writing (a read without waiting finds nothing more); within a line
  // ("12:00:00HVB#") only once it has been silent for a moment.
  while (!failure && (prompt_.matched() || prompt_.tentative())) {
    if (blankFrom(scanned_)) {
      Failure more = prompt_.matched() ? readMore()
                                             : fill(std::min(deadline, Clock::now() + kQuietAfterPrompt));
      if (more.kind == FailureKind::TimedOut || more.kind == FailureKind::CliGone) {
        prompt_.accept();
        break;
      }
      if (more) return more;
      continue;
    }
    prompt_.reject();
    if (keep == Keep::Nothing) {
      buffer_.dropFront(scanned_);
      scanned_ = 0;
    }
    failure = resume(prompt_, keep, nullptr, deadline);
  }
  return failure;
}

ReplyReader::Failure ReplyReader::readMore() {
  const ReplyBuffer::Room room = buffer_.room();
  if (room.size == 0) return failureOf(FailureKind::OutOfMemory);
  ByteSource::Result got =
      source_.readNow(room.data, std::min(room.size, kReadSize));
  buffer_.commit(got.count);
  if (got.count > 0 || got.failure) return got.failure;
  return failureOf(FailureKind::TimedOut);
}

ReplyReader::Failure ReplyReader::readReply(Deadline deadline) {
  prompt_.reset();
  tailLength_ = 0;
  typedAhead_ = false;
  Failure failure = scanForPrompt(Keep::InBuffer, deadline);
  if (!failure) {
    handOut(scanned_);
    promptStart_ = prompt_.promptStart();
    return failure;
  }
  tailLength_ = std::min(scanned_, TAIL_SIZE);
  buffer_.copy(scanned_ - tailLength_, scanned_).copy(tail_, tailLength_);
  // A prompt redrawn with text after it (help printed for a "?") leaves
  // that text typed in at the CLI.
  const std::string scanned = buffer_.copy(scanned_ - std::min(scanned_, kLastLine), scanned_);
  const size_t lineEnd = scanned.find_last_of("\r\n");
  const std::string_view lastLine =
      std::string_view(scanned).substr(lineEnd == std::string::npos ? 0 : lineEnd + 1);
  const size_t prompt = dialect::promptLength(lastLine);
  typedAhead_ = prompt > 0 && lastLine.find_first_not_of(" \t\r", prompt) != std::string_view::npos;
  // The rest is still to come; the scanner keeps its place in it.
  owed_ = failure.kind == FailureKind::TimedOut || failure.kind == FailureKind::Cancelled;
  buffer_.dropFront(scanned_);
  buffer_.trim();
  scanned_ = 0;
  return failure;
}

ReplyReader::Failure ReplyReader::dropOwedReply(Deadline deadline) {
  if (!owed_) return Failure();
  Failure failure = scanForPrompt(Keep::Nothing, deadline);
  if (!failure) {
    owed_ = false;
    buffer_.dropFront(scanned_);
    scanned_ = 0;
  }
  return failure;
}

ReplyReader::Failure ReplyReader::skipPast(const char* text, Deadline deadline) {
  return scanForText(text, Keep::Nothing, nullptr, deadline);
}

ReplyReader::Failure ReplyReader::readThrough(const char* text, std::string& into,
                                              Deadline deadline) {
  return scanForText(text, Keep::InText, &into, deadline);
}

ReplyReader::Failure ReplyReader::scanForText(const char* text, Keep keep, std::string* into,
                                              Deadline deadline) {
  Failure failure = failureOf(FailureKind::OutOfMemory);
  try {
    PromptMatcher matcher(text);
    failure = scan(matcher, keep, into, deadline);
  } catch (const std::bad_alloc&) {
    // The matcher's table, or `into` growing: what went into `into` is
    // dropped below, the rest stays for the next read.
  }
  buffer_.dropFront(scanned_);
  scanned_ = 0;
  return failure;
}

ReplyReader::Failure ReplyReader::drainUntilQuiet(std::chrono::milliseconds quiet,
                                                  Deadline deadline) {
  handOut(0);
  owed_ = false;
  for (;;) {
    buffer_.clear();
    Failure failure = fill(std::min(deadline, Clock::now() + quiet));
    if (failure.kind == FailureKind::TimedOut && Clock::now() < deadline) return Failure();
    if (failure) return failure;
  }
}

size_t ReplyReader::dropLeftover() {
  handOut(0);
  absorb();
  size_t dropped = 0;
  for (std::string_view bytes = buffer_.piece(0); !bytes.empty(); bytes = buffer_.piece(0)) {
    dropped += static_cast<size_t>(std::count_if(bytes.begin(), bytes.end(),
                                                 [](char byte) { return !isBlankOrLineEnd(byte); }));
    buffer_.dropFront(bytes.size());
  }
  buffer_.trim();
  return dropped;
}

ReplyReader::Failure ReplyReader::absorb() {
  handOut(0);
  for (;;) {
    // A CLI that floods while it is written to is a runaway one.
    if (buffer_.size() >= maxReply_) return tooLarge();
    const ReplyBuffer::Room room = buffer_.room();
    if (room.size == 0) return failureOf(FailureKind::OutOfMemory);
    ByteSource::Result got =
        source_.readNow(room.data, std::min(room.size, kReadSize));
    buffer_.commit(got.count);
    if (got.count == 0) return got.failure;
  }
}

}  // namespace internal
}  // namespace zubdm
