#ifndef ZUBDM_MEDIATOR_REPLYREADER_H
#define ZUBDM_MEDIATOR_REPLYREADER_H

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include <zubdm/mediator/ByteSource.h>
#include <zubdm/mediator/DocumentTap.h>
#include <zubdm/mediator/PromptScanner.h>
#include <zubdm/mediator/ReplyBuffer.h>

namespace zubdm {
namespace internal {

// Frames the CLI's output into replies: reads from a byte source up to the
// prompt that ends each reply, within a deadline and a size cap, and keeps
// track of a reply that was cut off so that its rest is never taken for the
// next one.
//
// Bytes are read in place into one buffer; those read past the end of what
// a call waited for are kept for the next call. A reply stays in the buffer
// until it is taken out (into the one string that keeps it) or released. Every call returns the
// failure that ended it (none once what was waited for arrived): the
// source's as it came, or ReplyTooLarge (the size cap as its limit) and
// OutOfMemory. Borrows the source. Not thread-safe.
class ReplyReader {
 public:
  using Failure = ZUB_DEVICE_MEDIATION::FailureRecord;

  static constexpr size_t DEFAULT_MAX_REPLY = size_t{256} << 20;

  explicit ReplyReader(ByteSource& source);
  ReplyReader(const ReplyReader&) = delete;
  ReplyReader& operator=(const ReplyReader&) = delete;

  void setMaxReplySize(size_t bytes) { maxReply_ = bytes; }
  // Told the bytes of each reply readReply() reads, in order, as they come
  // (null: nobody). Borrowed.
  void setTap(DocumentTap* tap) { tap_ = tap; }
  size_t maxReplySize() const { return maxReply_; }

  // Forgets every byte and state: a new CLI, a new stream.
  void reset();

  // Reads one reply, up to and including its prompt, which then begins at
  // promptStart() of its replySize() bytes. TimedOut and Cancelled leave
  // the reply's rest owed (owesReply()).
  Failure readReply(Deadline deadline);
  size_t replySize() const { return reply_; }
  size_t promptStart() const { return promptStart_; }
  // Bytes [from, to) of the reply read last (to is cut at its end).
  std::string replyText(size_t from, size_t to) const;
  // Moves the reply's bytes from `from` to its prompt into `out` (appended)
  // and drops the reply; throws std::bad_alloc, and keeps it, when `out`
  // cannot hold them.
  void takeReply(size_t from, std::string& out);
  // Done with the reply: its bytes, and the memory of a large one, go.
  void releaseReply();

  // The last bytes (at most TAIL_SIZE) of a reply that readReply() did not
  // complete, for saying what the CLI wrote instead; empty after a
  // complete one.
  static constexpr size_t TAIL_SIZE = 64;
  std::string_view unframedTail() const { return std::string_view(tail_, tailLength_); }

  bool owesReply() const { return owed_; }
  // Reads and drops the rest of an owed reply, up to its prompt.
  Failure dropOwedReply(Deadline deadline);

  // Waits for the literal `text` and drops every byte up to its end.
  Failure skipPast(const char* text, Deadline deadline);
  // Reads up to and including the literal `text`, appending the bytes to
  // `into`; ReplyTooLarge once `into` holds the size cap.
  Failure readThrough(const char* text, std::string& into, Deadline deadline);

  // Drops whatever arrived after the last prompt, reading what is there
  // without waiting, so that it is never taken for the next reply. Returns
  // how many of the dropped bytes were neither blanks nor line ends.
  size_t dropLeftover();

  // Takes in what has arrived, without waiting (while a command is being
  // written, so that a CLI echoing it never blocks): no failure once the
  // pipe is empty.
  Failure absorb();

  // Drops everything until the CLI has written nothing for `quiet`: no
  // failure then; TimedOut when it still writes at `deadline`.
  Failure drainUntilQuiet(std::chrono::milliseconds quiet, Deadline deadline);

  // After a readReply() that failed: its last line is a prompt followed by
  // text, as a CLI redraws it after printing help, keeping that text typed
  // in.
  bool typedAhead() const { return typedAhead_; }

 private:
  enum class Keep { Nothing, InBuffer, InText };

  // Feeds the matcher from the start of the buffer, reading more until it
  // matches, the cap or the deadline.
  template <class Matcher>
  Failure scan(Matcher& matcher, Keep keep, std::string* text, Deadline deadline);
  // The same, going on from where the matcher stopped.
  template <class Matcher>
  Failure resume(Matcher& matcher, Keep keep, std::string* text, Deadline deadline);
  // scan() for the literal `text`, keeping what it passes as `keep` says.
  Failure scanForText(const char* text, Keep keep, std::string* into, Deadline deadline);
  // scan() for the prompt, settling a tentative prompt by what follows it.
  Failure scanForPrompt(Keep keep, Deadline deadline);
  // Reads once into the buffer, waiting at most until `deadline`; no
  // failure when bytes came.
  Failure fill(Deadline deadline);
  Failure tooLarge() const;
  // Reads once without waiting; TimedOut when nothing had arrived.
  Failure readMore();
  // The first `length` buffered bytes are the reply now; the one before
  // goes.
  void handOut(size_t length);
  // Whether buffered bytes from `from` on are all blanks.
  bool blankFrom(size_t from) const;

  ByteSource& source_;
  // Received and not yet handed out; the first scanned_ bytes belong to
  // what the current call has scanned.
  ReplyBuffer buffer_;
  size_t scanned_;
  // The size of the reply last handed out, at the front of the buffer until
  // the next call drops it.
  size_t reply_;
  PromptScanner prompt_;
  size_t promptStart_;
  size_t maxReply_;
  bool owed_;
  DocumentTap* tap_ = nullptr;
  bool typedAhead_ = false;
  char tail_[TAIL_SIZE];
  size_t tailLength_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_REPLYREADER_H
