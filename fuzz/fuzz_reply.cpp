// The reply reader fed by a script made from the input: pieces of the CLI's
// output with waits that time out between them, a small size cap, and the
// classification of every reply it frames. Checks that replies are framed
// where the prompt rule says, in the order the bytes came, that a cut-off
// reply is never taken for the next one, and what each reply stores.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "mediator/ReplyClassifier.h"
#include "mediator/ReplyReader.h"
#include "result/CLIResponse.h"

using zubdm::internal::ByteSource;
using zubdm::internal::Clock;
using zubdm::internal::Deadline;
using zubdm::internal::ReplyClassifier;
using zubdm::internal::ReplyReader;
using ZUB_DEVICE_MEDIATION::CLIResponse;

namespace {

// Stands in for the mediator's 256 MiB cap, so that fuzz inputs reach it.
const size_t kCap = 4096;

// The stream in pieces of `piece` bytes; a wait times out where the bits of
// `timeouts` say so, and the stream ends with end of file.
class FuzzSource final : public ByteSource {
 public:
  FuzzSource(const std::string& stream, size_t piece, uint64_t timeouts)
      : stream_(stream), piece_(piece), timeouts_(timeouts), offset_(0) {}

  Result read(char* buffer, size_t capacity, Deadline) override {
    const bool timeout = (timeouts_ & 1) != 0;
    timeouts_ >>= 1;
    if (timeout) return {Status::TimedOut, 0};
    if (offset_ == stream_.size()) return {Status::Closed, 0};
    const size_t count = std::min({piece_, capacity, stream_.size() - offset_});
    std::memcpy(buffer, stream_.data() + offset_, count);
    offset_ += count;
    return {Status::Data, count};
  }

  Result readNow(char*, size_t) override { return {Status::Empty, 0}; }

 private:
  const std::string& stream_;
  size_t piece_;
  uint64_t timeouts_;
  size_t offset_;
};

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void checkStored(const std::string& reply, size_t prompt,
                 const CLIResponse& response) {
  const std::string& context = response.getRspContext();
  const bool tagged = reply.find('<') != std::string::npos;
  const auto& elements = response.getResponseList();
  const std::string& error = response.getError();
  if (tagged && prompt == 0) {
    fuzzCheck(context == reply && elements.empty() && error.empty(),
              "a reply that starts with its prompt is all context");
    return;
  }
  fuzzCheck(context == reply.substr(prompt), "the context starts at the prompt");
  fuzzCheck(elements.size() + (error.empty() ? 0 : 1) == 1,
            "one reply stores either one element or one error");
  const std::string output = reply.substr(0, prompt);
  if (!error.empty()) {
    const std::string& examined = tagged ? output : reply;
    const size_t start = examined.find("Error:");
    fuzzCheck(start != std::string::npos &&
                  examined.compare(start, error.size(), error) == 0,
              "the error is the examined text's, from its first \"Error:\"");
    return;
  }
  const std::string& element = elements.front();
  if (!tagged) {
    fuzzCheck(element == output, "plain output is kept whole");
  } else {
    const size_t first = output.find('<');
    fuzzCheck(element == (first == std::string::npos ? "" : output.substr(first)),
              "tagged output is kept from its first \"<\"");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const size_t piece = input.ConsumeIntegralInRange<size_t>(1, 1024);
  const uint64_t timeouts = input.ConsumeIntegral<uint64_t>();
  const std::string stream = input.ConsumeRemainingBytesAsString();

  FuzzSource source(stream, piece, timeouts);
  ReplyReader reader(source);
  reader.setMaxReplySize(kCap);
  const Deadline deadline = Clock::now();
  // Where in the stream the next reply may begin at the earliest.
  size_t position = 0;
  for (int calls = 0; calls < 10000; ++calls) {
    if (reader.owesReply()) {
      const ReplyReader::Outcome dropped = reader.dropOwedReply(deadline);
      if (dropped == ReplyReader::Outcome::TimedOut) continue;
      if (dropped != ReplyReader::Outcome::Complete) break;
      continue;
    }
    const ReplyReader::Outcome outcome = reader.readReply(deadline);
    if (outcome == ReplyReader::Outcome::TimedOut) {
      fuzzCheck(reader.owesReply(), "a timed-out reply is owed");
      continue;
    }
    if (outcome == ReplyReader::Outcome::TooLarge) {
      fuzzCheck(reader.broken(), "a reply over the cap breaks the reader");
      fuzzCheck(reader.readReply(deadline) == ReplyReader::Outcome::TooLarge,
                "a broken reader frames nothing more");
      break;
    }
    if (outcome != ReplyReader::Outcome::Complete) break;
    const std::string reply(reader.reply());
    const size_t prompt = reader.promptStart();
    fuzzCheck(reply.size() <= kCap, "a reply is within the cap");
    fuzzCheck(endsWith(reply, "#"), "a reply ends with the prompt's \"#\"");
    fuzzCheck(reply.compare(prompt, 3, "HVB") == 0, "the prompt starts with HVB");
    fuzzCheck(reply.find("HVB") == prompt, "the prompt is the first HVB");
    const size_t at = stream.find(reply, position);
    fuzzCheck(at != std::string::npos, "replies come in the stream's order");
    position = at + reply.size();
    CLIResponse response;
    ReplyClassifier::store(reply, prompt, response);
    checkStored(reply, prompt, response);
  }
  return 0;
}
