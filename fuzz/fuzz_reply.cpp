// The reply reader fed by a script made from the input: pieces of the CLI's
// output with waits that time out between them, a small size cap, maybe the
// login's waits first, then replies, each classified. Checks that the login
// waits end at the first occurrence of their text, that replies end with a
// prompt and come in the stream's order (a cut-off reply is never taken for
// the next one), and what each reply stores.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include <zubdm/mediator/ReplyClassifier.h>
#include <zubdm/mediator/ReplyReader.h>
#include <zubdm/result/CLIResponse.h>

using zubdm::internal::ByteSource;
using zubdm::internal::Clock;
using zubdm::internal::Deadline;
using zubdm::internal::ReplyClassifier;
using zubdm::internal::ReplyReader;
using zubdm::internal::failureOf;
using Kind = ZUB_DEVICE_MEDIATION::FailureKind;

namespace {

// Stands in for the mediator's 256 MiB cap, so that fuzz inputs reach it.
const size_t kCap = 4096;

// The stream in pieces of `piece` bytes; a wait times out where the bits of
// `timeouts` say so, and the stream ends with end of file.
struct FuzzSource final : ByteSource {
  FuzzSource(const std::string& text, size_t size, uint64_t bits)
      : stream(text), piece(size), timeouts(bits) {}

  Result read(char* buffer, size_t capacity, Deadline) override {
    const bool timeout = (timeouts & 1) != 0;
    timeouts >>= 1;
    if (timeout) return {0, failureOf(Kind::TimedOut)};
    if (offset == stream.size()) return {0, failureOf(Kind::CliGone)};
    const size_t count = std::min({piece, capacity, stream.size() - offset});
    std::memcpy(buffer, stream.data() + offset, count);
    offset += count;
    return {count, {}};
  }
  Result readNow(char*, size_t) override { return {0, {}}; }

  const std::string& stream;
  size_t piece;
  uint64_t timeouts;
  size_t offset = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const size_t piece = input.ConsumeIntegralInRange<size_t>(1, 1024);
  const uint64_t timeouts = input.ConsumeIntegral<uint64_t>();
  const bool login = input.ConsumeBool();
  const std::string stream = input.ConsumeRemainingBytesAsString();

  FuzzSource source(stream, piece, timeouts);
  ReplyReader reader(source);
  reader.setMaxReplySize(kCap);
  const Deadline deadline = Clock::now();
  // Where in the stream the next reply may begin at the earliest.
  size_t position = 0;
  if (login) {
    std::string text;
    if (reader.skipPast("Login:", deadline) || reader.readThrough("#", text, deadline)) {
      return 0;
    }
    position = stream.find("Login:") + 6;
    fuzzCheck(text == stream.substr(position, stream.find('#', position) + 1 - position),
              "the login's waits end at the first of their texts");
    position += text.size();
  }
  for (int calls = 0; calls < 10000; ++calls) {
    if (reader.owesReply()) {
      if (reader.dropOwedReply(deadline).kind == Kind::CliGone) break;
      continue;
    }
    const Kind outcome = reader.readReply(deadline).kind;
    if (outcome == Kind::TimedOut) {
      fuzzCheck(reader.owesReply(), "a timed-out reply is owed");
      continue;
    }
    // Past the cap nothing can be framed any more: the mediator stops there.
    if (outcome != Kind::None) break;
    const std::string reply(reader.replyText(0, reader.replySize()));
    const size_t prompt = reader.promptStart();
    const std::string body = reply.substr(prompt + 3, reply.size() - prompt - 4);
    fuzzCheck(reply.size() <= kCap && reply.compare(prompt, 3, "HVB") == 0 && reply.back() == '#' &&
                  body.size() <= 64 && body.find_first_of(" \t\r\n#") == std::string::npos,
              "a reply is within the cap and ends with a prompt");
    const size_t at = stream.find(reply, position);
    fuzzCheck(at != std::string::npos, "replies come in the stream's order");
    position = at + reply.size();
    // Stored: the prompt as context, and the output (from a "<SHOW" on) or
    // instead an error that starts with "Error:".
    ZUB_DEVICE_MEDIATION::CLIResponse response;
    ReplyClassifier::store(reply.substr(0, prompt), reply.substr(prompt), zubdm::internal::CliDialect(),
                           response);
    const std::string& error = response.getError();
    fuzzCheck(response.getRspContext() == reply.substr(prompt) &&
                  response.getResponseList().size() == (error.empty() ? 1u : 0u) &&
                  (error.empty() || error.compare(0, 6, "Error:") == 0),
              "a reply stores its prompt and one element or an error");
  }
  return 0;
}
