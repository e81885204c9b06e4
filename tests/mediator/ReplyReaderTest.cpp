// The reply reader on scripted bytes, and with it the prompt scanner that
// frames replies and the matcher that the login's waits use; the classifier
// that splits each reply.
#include <zubdm/mediator/ReplyReader.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <zubdm/mediator/DocumentTap.h>
#include <zubdm/mediator/ReplyClassifier.h>
#include <zubdm/result/CliDomTree.h>

using zubdm::internal::ByteSource;
using zubdm::internal::Clock;
using zubdm::internal::Deadline;
using zubdm::internal::ReplyClassifier;
using zubdm::internal::ReplyReader;
using zubdm::internal::failureOf;
using Kind = ZUB_DEVICE_MEDIATION::FailureKind;
using Lines = std::vector<std::string>;

namespace {

// One step of what the CLI does: bytes, how a wait ends without them, or a
// silence of `ms` that only a wait with that much time left gets past.
struct Step {
  Kind failure;  // None: bytes, or a silence when there are none
  std::string bytes;
  int ms;
  bool quiet() const { return failure == Kind::None && bytes.empty(); }
};

Step bytes(const std::string& text) { return {Kind::None, text, 0}; }
Step quiet(int ms) { return {Kind::None, "", ms}; }
const Step kTimeout{Kind::TimedOut, "", 0};

// Plays a script; a wait with nothing left in it, or with too little time
// left for a silence, times out.
struct ScriptedSource final : ByteSource {
  explicit ScriptedSource(std::vector<Step> steps) : script(steps.begin(), steps.end()) {}

  Result read(char* buffer, size_t capacity, Deadline deadline) override {
    if (!script.empty() && script.front().quiet() &&
        deadline >= Clock::now() + std::chrono::milliseconds(script.front().ms)) {
      script.pop_front();
    }
    if (script.empty() || script.front().quiet()) return {0, failureOf(Kind::TimedOut)};
    if (script.front().failure == Kind::None) return readNow(buffer, capacity);
    const Kind failure = script.front().failure;
    script.pop_front();
    return {0, failureOf(failure)};
  }

  Result readNow(char* buffer, size_t capacity) override {
    // A pause of no length is over once a read has found nothing.
    if (!script.empty() && script.front().quiet() && script.front().ms == 0) {
      script.pop_front();
      return {0, {}};
    }
    if (script.empty() || script.front().failure != Kind::None || script.front().quiet()) {
      return {0, {}};
    }
    std::string& text = script.front().bytes;
    const size_t count = std::min(capacity, text.size());
    std::memcpy(buffer, text.data(), count);
    text.erase(0, count);
    if (text.empty()) script.pop_front();
    return {count, {}};
  }

  std::deque<Step> script;
};

// One call: readReply(), or dropOwedReply() while a reply is owed.
struct Call {
  Kind outcome;            // the failure, None when what was waited for came
  std::string reply = "";  // a complete readReply(): the reply, its last "HVB" the prompt
};

Deadline soon() { return Clock::now() + std::chrono::seconds(1); }

}  // namespace

TEST(ReplyReader, FramesRepliesAtThePromptAndNeverTakesTheRestOfACutOffOneForTheNext) {
  const std::string x64(64, 'x'), large = std::string(9 << 20, 'x') + "\nHVB#";
  const struct {
    const char* name;
    std::vector<Step> script;
    size_t cap;  // reply size cap (0: the default)
    std::vector<Call> calls;
  } rows[] = {
      {"a prompt split over reads ends the reply once the CLI stops; CR starts a line",
       {bytes("show\r\nH"), bytes("VB(con"), bytes("fig)#"), quiet(0), bytes("\r\nnext\rHVB#"), quiet(0)},
       0, {{Kind::None, "show\r\nHVB(config)#"}, {Kind::None, "\r\nnext\rHVB#"}}},
      {"a prompt-like text followed by anything but blanks is output, at a line start too",
       {bytes("HVB-x#1 up\r\nHVB#\r\n"), bytes("more\r\nHVB# "), quiet(0)}, 0,
       {{Kind::None, "HVB-x#1 up\r\nHVB#\r\nmore\r\nHVB#"}}},
      {"HVB with a blank, a line end or a 65-byte body is output, with 64 bytes a prompt",
       {bytes("HVB up#\r\nHVB\r\n#\r\nHVB" + x64 + "x#\r\nHVB" + x64 + "#"), quiet(0),
        bytes(" \tHVB-1#"), quiet(0)},
       0,
       {{Kind::None, "HVB up#\r\nHVB\r\n#\r\nHVB" + x64 + "x#\r\nHVB" + x64 + "#"},
        {Kind::None, " \tHVB-1#"}}},
      {"a prompt in a line followed by more bytes, at once or within 50 ms, is output",
       {bytes("say HVB# now\r\n12:00HVB#"), quiet(10), bytes(" up\r\nHVB#")}, 0,
       {{Kind::None, "say HVB# now\r\n12:00HVB# up\r\nHVB#"}}},
      {"a prompt in a line followed by 50 ms of silence is the prompt",
       {bytes("12:00HVB#"), quiet(80), bytes("x\r\nHVB#")}, 0,
       {{Kind::None, "12:00HVB#"}, {Kind::None, "x\r\nHVB#"}}},
      {"blanks after a prompt in a line are its own; a byte after them makes it output",
       {bytes("12:00HVB# "), quiet(10), bytes("\t"), quiet(80), bytes("up HVB# "), quiet(10),
        bytes("x\r\nHVB#")},
       0, {{Kind::None, "12:00HVB#"}, {Kind::None, " \tup HVB# x\r\nHVB#"}}},
      {"a time-out leaves the reply owed, also while it is dropped, and its place in the prompt",
       {bytes("out\r\nHV"), kTimeout, kTimeout, bytes("B#"), quiet(0), bytes("\r\nx\nHVB#")}, 0,
       {{Kind::TimedOut}, {Kind::TimedOut}, {Kind::None}, {Kind::None, "\r\nx\nHVB#"}}},
      {"a reply of MiBs, read in many pieces, and a small one after it",
       {bytes(large), quiet(0), bytes("1\nHVB#")}, 0, {{Kind::None, large}, {Kind::None, "1\nHVB#"}}},
      {"a reply over the cap fails", {bytes("0123456789\nHVB#")}, 8, {{Kind::ReplyTooLarge}}},
      {"a reply of exactly the cap is accepted", {bytes("123\nHVB#")}, 8, {{Kind::None, "123\nHVB#"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedSource source(row.script);
    ReplyReader reader(source);
    if (row.cap != 0) reader.setMaxReplySize(row.cap);
    for (const Call& call : row.calls) {
      if (reader.owesReply()) {
        EXPECT_EQ(reader.dropOwedReply(soon()).kind, call.outcome);
        continue;
      }
      ASSERT_EQ(reader.readReply(soon()).kind, call.outcome);
      if (call.outcome != Kind::None) continue;
      EXPECT_EQ(reader.replyText(0, reader.replySize()), call.reply);
      EXPECT_EQ(reader.promptStart(), call.reply.rfind("HVB"));
    }
  }
}

TEST(ReplyReader, BytesTakenInWhileWritingStartTheReplyAndLeftoversAreDropped) {
  ScriptedSource source({bytes("echo of a long "), bytes("line\r\n"), quiet(0),
                         bytes("out\r\nHVB#"), quiet(0), bytes(" late bytes\r\n"), quiet(0),
                         bytes("x\r\nHVB#")});
  ReplyReader reader(source);
  EXPECT_FALSE(reader.absorb());
  ASSERT_EQ(reader.readReply(soon()).kind, Kind::None);
  EXPECT_EQ(reader.replyText(0, reader.replySize()), "echo of a long line\r\nout\r\nHVB#");
  // Blanks and line ends are dropped uncounted.
  EXPECT_EQ(reader.dropLeftover(), 9u);
  ASSERT_EQ(reader.readReply(soon()).kind, Kind::None);
  EXPECT_EQ(reader.replyText(0, reader.replySize()), "x\r\nHVB#");
}

TEST(ReplyReader, LoginWaitsDropWhatComesBeforeTheirTextAndRestartAtAMismatch) {
  ScriptedSource source(
      {bytes("banner\r\nLLog"), bytes("in: PaPass"), bytes("word:"), bytes("welcome HVB#rest")});
  ReplyReader reader(source);
  EXPECT_EQ(reader.skipPast("Login:", soon()).kind, Kind::None);
  EXPECT_EQ(reader.skipPast("Password:", soon()).kind, Kind::None);
  std::string text;
  EXPECT_EQ(reader.readThrough("#", text, soon()).kind, Kind::None);
  EXPECT_EQ(text, "welcome HVB#");
  reader.reset();  // a new CLI: nothing of the old one's stream is kept
  EXPECT_EQ(reader.skipPast("rest", soon()).kind, Kind::TimedOut);
}

TEST(ReplyReader, TextWaitsSeeAnOccurrenceThatStartsInsideAFailedPartialMatch) {
  ScriptedSource source({bytes("a ]]"), bytes("]> b aab"), bytes("aabaabaaab!c")});
  ReplyReader reader(source);
  std::string text;
  EXPECT_EQ(reader.readThrough("]]>", text, soon()).kind, Kind::None);
  EXPECT_EQ(text, "a ]]]>");
  EXPECT_EQ(reader.skipPast("aabaaab", soon()).kind, Kind::None);
  text.clear();
  EXPECT_EQ(reader.readThrough("c", text, soon()).kind, Kind::None);
  EXPECT_EQ(text, "!c");
}

TEST(ReplyClassifier, StoresThePromptAndEitherTheOutputOrItsErrorClassifiedByLines) {
  const struct {
    const char* name;
    std::string reply;   // ending with its prompt, the last "HVB" in it
    size_t echo;         // bytes of echo it begins with
    std::string output;  // the one element stored when there is no error
    std::string error;
  } rows[] = {
      {"prompt alone", "HVB#", 0, "", ""},
      {"plain output is kept whole", "line 1\r\nline 2\r\nHVB(config)#", 0, "line 1\r\nline 2\r\n", ""},
      {"other output with a \"<\" is kept whole", "Uptime < 1 day\r\nHVB<a>#", 0, "Uptime < 1 day\r\n", ""},
      {"show output drops what comes before it", "note\r\n<SHOW></SHOW>\r\nHVB#", 0, "<SHOW></SHOW>\r\n", ""},
      {"binary bytes and NULs", std::string("\xff\0x\0\nHVB#", 9), 0, std::string("\xff\0x\0\n", 5), ""},
      {"an error line runs to the prompt", "cmd\r\nError: bad\r\ninput HVB x\r\nHVB#", 0, "",
       "Error: bad\r\ninput HVB x\r\n"},
      {"Error: within a line is data", "name Error: none\r\nHVB#", 0, "name Error: none\r\n", ""},
      {"<SHOW within a line is data", "see <SHOW> docs\r\nHVB#", 0, "see <SHOW> docs\r\n", ""},
      {"the echo is not output, nor its Error: or <SHOW",
       "Error: x <SHOW\r\nout\r\nHVB#", 16, "out\r\n", ""},
      {"a line starts right after the echo", "cmd\r\nError: y\r\nHVB#", 5, "", "Error: y\r\n"},
      {"the host's prefix marks an error line", "ok\r\n% Unknown command\r\nHVB#", 0, "",
       "% Unknown command\r\n"},
      {"an Error: in a show document is data", "<SHOW>\nError:</SHOW>\nHVB#", 0, "<SHOW>\nError:</SHOW>\n", ""},
      {"... also in one cut short", "<SHOW><i d=\"x\"\r\nError: x\r\nHVB#", 0,
       "<SHOW><i d=\"x\"\r\nError: x\r\n", ""},
      {"an Error: line after the show document is an error", "<SHOW></SHOW>\nError: x\nHVB#", 0, "",
       "Error: x\n"},
  };
  zubdm::internal::CliDialect rules;
  ASSERT_FALSE(rules.setErrorPrefixes({"% ", ""}) || rules.setErrorPrefixes({"\x1b["}));
  ASSERT_TRUE(rules.setErrorPrefixes({"% "}));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const size_t prompt = row.reply.rfind("HVB");
    ZUB_DEVICE_MEDIATION::CLIResponse response;
    ReplyClassifier::store(row.reply.substr(row.echo, prompt - row.echo), row.reply.substr(prompt),
                           rules, response);
    EXPECT_EQ(response.getRspContext(), row.reply.substr(prompt));
    EXPECT_EQ(response.getResponseList(), row.error.empty() ? Lines{row.output} : Lines{});
    EXPECT_EQ(response.getError(), row.error);
    EXPECT_EQ(ReplyClassifier::checkError(row.reply.substr(row.echo), rules), row.error);
  }
}

TEST(DocumentTap, ParsesTheLineStartDocumentAfterTheEchoHoweverTheReplyIsCut) {
  const std::string doc = "<SHOW><OBJ id=\"A\"><port admin=\"up\"/></OBJ></SHOW>";
  const struct {
    const char* name;
    std::string reply;
    bool echo;
    size_t at;  // where the document begins; npos: none is parsed
  } rows[] = {
      {"after the echo", "show x <SHOW\r\n" + doc + "\r\nHVB#", true, 14},
      {"a <SHOW within a line is not one", "say <SHOW> now\r\n" + doc + "\r\nHVB#", false, 16},
      {"one cut short is none", "<SHOW><OBJ id=\"A\">\r\nHVB#", false, std::string::npos},
      {"in the echo it is the caller's text", "<SHOW\r\nx\r\nHVB#", true, std::string::npos},
  };
  for (const auto& row : rows) {
    for (size_t cut = 0; cut <= row.reply.size(); ++cut) {
      SCOPED_TRACE(std::string(row.name) + " cut at " + std::to_string(cut));
      zubdm::internal::DocumentTap tap;
      tap.start(row.echo);
      tap.take(std::string_view(row.reply).substr(0, cut));
      tap.take(std::string_view(row.reply).substr(cut));
      zubdm::internal::ShowParser* parser = tap.documentAt(row.at);
      ASSERT_EQ(parser != nullptr, row.at != std::string::npos);
      if (parser == nullptr) continue;
      CliDomTree tree;
      QOR_error error;
      tree.adopt(*parser, error);
      std::string admin;
      EXPECT_TRUE(!error.is_set() && tree.find_value("A", "port", "admin", admin) == 1 && admin == "up");
    }
  }
}
