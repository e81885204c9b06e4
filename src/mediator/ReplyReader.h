#ifndef ZUBDM_MEDIATOR_REPLYREADER_H
#define ZUBDM_MEDIATOR_REPLYREADER_H

#include <cstddef>
#include <string>

#include "mediator/ByteSource.h"
#include "mediator/PromptScanner.h"

namespace zubdm {
namespace internal {

// Frames the CLI's output into replies: reads from a byte source up to the
// prompt that ends each reply, within a deadline and a size cap, and keeps
// track of a reply that was cut off so that its rest is never taken for the
// next one.
//
// Bytes read past the end of what a call waited for are kept for the next
// call. Borrows the source. Not thread-safe.
class ReplyReader {
 public:
  enum class Outcome {
    Complete,   // what was waited for has arrived
    TimedOut,   // the deadline passed first
    Cancelled,  // the wait was cancelled
    Closed,     // end of file, or the CLI has ended
    Failed,     // a read failed
    TooLarge,   // the reply reached the size cap
  };

  static constexpr size_t DEFAULT_MAX_REPLY = size_t{256} << 20;

  explicit ReplyReader(ByteSource& source);
  ReplyReader(const ReplyReader&) = delete;
  ReplyReader& operator=(const ReplyReader&) = delete;

  void setMaxReplySize(size_t bytes) { maxReply_ = bytes; }
  size_t maxReplySize() const { return maxReply_; }

  // Forgets every byte and state: a new CLI, a new stream.
  void reset();

  // Reads one reply, up to and including its prompt. Complete: reply()
  // holds it and promptStart() tells where its prompt begins. TimedOut and
  // Cancelled leave the reply's rest owed (owesReply()); TooLarge leaves
  // the reader broken(): no later reply can be told apart from it.
  Outcome readReply(Deadline deadline);
  std::string& reply() { return reply_; }
  size_t promptStart() const { return promptStart_; }

  bool owesReply() const { return owed_; }
  // Reads and drops the rest of an owed reply, up to its prompt.
  Outcome dropOwedReply(Deadline deadline);
  bool broken() const { return broken_; }

  // Waits for the literal `text` and drops every byte up to its end.
  Outcome skipPast(const char* text, Deadline deadline);
  // Reads up to and including the literal `text`, appending the bytes to
  // `into`; TooLarge once `into` holds the size cap.
  Outcome readThrough(const char* text, std::string& into, Deadline deadline);

  // Takes in what has arrived, without waiting (while a command is being
  // written, so that a CLI echoing it never blocks). Returns how the last
  // read ended: Empty normally, Closed or Failed when the pipe did.
  ByteSource::Status absorb();

 private:
  template <class Matcher>
  Outcome scan(Matcher& matcher, std::string* sink, Deadline deadline);
  template <class Matcher>
  size_t consume(Matcher& matcher, std::string* sink, const char* data,
                 size_t length);

  ByteSource& source_;
  // Received and not yet scanned.
  std::string pending_;
  std::string reply_;
  PromptScanner prompt_;
  size_t promptStart_;
  size_t maxReply_;
  bool owed_;
  bool broken_;
  // One pipe's worth of bytes per read.
  char chunk_[65536];
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_REPLYREADER_H
