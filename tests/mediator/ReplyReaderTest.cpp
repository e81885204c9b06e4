#include "mediator/ReplyReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

using zubdm::internal::ByteSource;
using zubdm::internal::Clock;
using zubdm::internal::Deadline;
using zubdm::internal::ReplyReader;
using Outcome = ReplyReader::Outcome;
using Status = ByteSource::Status;

namespace {

// One step of what the CLI does: bytes, or how a wait ends without them.
struct Step {
  Status status;
  std::string bytes;
};

Step bytes(const std::string& text) { return {Status::Data, text}; }
const Step kTimeout{Status::TimedOut, ""};
const Step kCancel{Status::Cancelled, ""};
const Step kClosed{Status::Closed, ""};
// Nothing there for a read that does not wait; a wait goes past it.
const Step kPause{Status::Empty, ""};

// Plays a script; a wait with nothing left in it times out.
class ScriptedSource final : public ByteSource {
 public:
  explicit ScriptedSource(std::vector<Step> script)
      : script_(script.begin(), script.end()) {}

  Result read(char* buffer, size_t capacity, Deadline) override {
    if (!script_.empty() && script_.front().status == Status::Empty) {
      script_.pop_front();
    }
    if (script_.empty()) return {Status::TimedOut, 0};
    if (script_.front().status != Status::Data) {
      const Status status = script_.front().status;
      script_.pop_front();
      return {status, 0};
    }
    return take(buffer, capacity);
  }

  Result readNow(char* buffer, size_t capacity) override {
    if (script_.empty() || script_.front().status != Status::Data) {
      return {Status::Empty, 0};
    }
    return take(buffer, capacity);
  }

 private:
  Result take(char* buffer, size_t capacity) {
    std::string& text = script_.front().bytes;
    const size_t count = std::min(capacity, text.size());
    std::memcpy(buffer, text.data(), count);
    text.erase(0, count);
    if (text.empty()) script_.pop_front();
    return {Status::Data, count};
  }

  std::deque<Step> script_;
};

// What one call is expected to give: readReply(), or dropOwedReply() when
// a reply is owed.
struct Expect {
  Outcome outcome;
  std::string reply = "";   // Complete readReply: the whole reply
  std::string prompt = "";  // ... and the prompt that ends it
};

struct ReplyRow {
  const char* name;
  std::vector<Step> script;
  size_t cap;  // reply size cap (0: the default)
  std::vector<Expect> calls;
};

Deadline soon() { return Clock::now() + std::chrono::seconds(1); }

}  // namespace

TEST(ReplyReader, FramesRepliesAndRecoversFromCutOffOnes) {
  const ReplyRow rows[] = {
      {"a prompt split over reads",
       {bytes("show\r\nH"), bytes("VB(con"), bytes("fig)#")},
       0,
       {{Outcome::Complete, "show\r\nHVB(config)#", "HVB(config)#"}}},
      {"a prompt that starts a line ends the reply, whatever follows",
       {bytes("out\r\nHVB#\r\nnext\rHVB(config)#")},
       0,
       {{Outcome::Complete, "out\r\nHVB#", "HVB#"},
        {Outcome::Complete, "\r\nnext\rHVB(config)#", "HVB(config)#"}}},
      {"blanks may come before a prompt that starts the reply",
       {bytes(" \tHVB-1#")},
       0,
       {{Outcome::Complete, " \tHVB-1#", "HVB-1#"}}},
      {"a prompt-like text in a line followed by more bytes is output",
       {bytes("say HVB# now\r\n"), bytes("HVB#")},
       0,
       {{Outcome::Complete, "say HVB# now\r\nHVB#", "HVB#"}}},
      {"a prompt-like text in a line followed by silence is the prompt",
       {bytes("12:00:00HVB#")},
       0,
       {{Outcome::Complete, "12:00:00HVB#", "HVB#"}}},
      {"HVB with a blank, a line end or a body over 64 bytes is output",
       {bytes("HVB up#\r\nHVB\r\n#\r\nHVB" + std::string(65, 'x') + "#\r\nHVB" +
              std::string(64, 'x') + "#")},
       0,
       {{Outcome::Complete,
         "HVB up#\r\nHVB\r\n#\r\nHVB" + std::string(65, 'x') + "#\r\nHVB" +
             std::string(64, 'x') + "#",
         "HVB" + std::string(64, 'x') + "#"}}},
      {"a time-out leaves the reply owed; its rest is dropped up to its prompt",
       {kTimeout, bytes("late\r\nHVB#"), bytes("\r\nnext\r\nHVB#")},
       0,
       {{Outcome::TimedOut},
        {Outcome::Complete},
        {Outcome::Complete, "\r\nnext\r\nHVB#", "HVB#"}}},
      {"a time-out inside the prompt keeps its place in it",
       {bytes("out\r\nHV"), kTimeout, bytes("B#\r\nnext\r\nHVB#")},
       0,
       {{Outcome::TimedOut},
        {Outcome::Complete},
        {Outcome::Complete, "\r\nnext\r\nHVB#", "HVB#"}}},
      {"a cancel is handled as a time-out",
       {kCancel, bytes("late\r\nHVB#"), bytes("\r\nx\r\nHVB#")},
       0,
       {{Outcome::Cancelled}, {Outcome::Complete}, {Outcome::Complete, "\r\nx\r\nHVB#", "HVB#"}}},
      {"a time-out while dropping keeps the reply owed",
       {kTimeout, kTimeout, bytes("HVB#\r\nx\r\nHVB#")},
       0,
       {{Outcome::TimedOut}, {Outcome::TimedOut}, {Outcome::Complete},
        {Outcome::Complete, "\r\nx\r\nHVB#", "HVB#"}}},
      {"end of file in the middle of a reply",
       {bytes("partial"), kClosed},
       0,
       {{Outcome::Closed}}},
      {"a reply over the cap breaks the reader for good",
       {bytes("0123456789\nHVB#"), bytes("HVB#")},
       8,
       {{Outcome::TooLarge}, {Outcome::TooLarge}}},
      {"a reply of exactly the cap is accepted",
       {bytes("123\nHVB#")},
       8,
       {{Outcome::Complete, "123\nHVB#", "HVB#"}}},
  };
  for (const ReplyRow& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedSource source(row.script);
    ReplyReader reader(source);
    if (row.cap != 0) reader.setMaxReplySize(row.cap);
    for (const Expect& call : row.calls) {
      if (reader.owesReply()) {
        EXPECT_EQ(reader.dropOwedReply(soon()), call.outcome);
        continue;
      }
      ASSERT_EQ(reader.readReply(soon()), call.outcome);
      if (call.outcome != Outcome::Complete) continue;
      EXPECT_EQ(reader.reply(), call.reply);
      EXPECT_EQ(std::string(reader.reply().substr(reader.promptStart())), call.prompt);
    }
  }
}

TEST(ReplyReader, BytesTakenInWhileWritingStartTheReplyAndLeftoversAreDropped) {
  ScriptedSource source({bytes("echo of a long "), bytes("line\r\n"), kPause,
                         bytes("out\r\nHVB# late bytes\r\n"), kPause,
                         bytes("x\r\nHVB#")});
  ReplyReader reader(source);
  EXPECT_EQ(reader.absorb(), Status::Empty);
  ASSERT_EQ(reader.readReply(soon()), Outcome::Complete);
  EXPECT_EQ(reader.reply(), "echo of a long line\r\nout\r\nHVB#");
  // What came after the prompt is dropped; blanks and line ends uncounted.
  EXPECT_EQ(reader.dropLeftover(), 9u);
  ASSERT_EQ(reader.readReply(soon()), Outcome::Complete);
  EXPECT_EQ(reader.reply(), "x\r\nHVB#");
}

TEST(ReplyReader, LoginWaitsDropWhatComesBeforeTheirText) {
  ScriptedSource source({bytes("banner\r\nLog"), bytes("in: Pass"), bytes("word:"),
                         bytes("welcome HVB#rest")});
  ReplyReader reader(source);
  EXPECT_EQ(reader.skipPast("Login:", soon()), Outcome::Complete);
  EXPECT_EQ(reader.skipPast("Password:", soon()), Outcome::Complete);
  std::string text;
  EXPECT_EQ(reader.readThrough("#", text, soon()), Outcome::Complete);
  EXPECT_EQ(text, "welcome HVB#");
  reader.reset();  // a new CLI: nothing of the old one's stream is kept
  EXPECT_EQ(reader.skipPast("rest", soon()), Outcome::TimedOut);
}
