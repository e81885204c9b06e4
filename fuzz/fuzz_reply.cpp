// Replies read from a byte stream as the mediator reads them (up to "HVB",
// then up to "#", in pieces of the receive buffer's size, with a size cap)
// and classified into context, output and error. Bytes after one prompt
// begin the next reply, so one input yields several replies.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzSupport.h"
#include "mediator/PromptMatcher.h"
#include "mediator/ReplyClassifier.h"
#include "result/CLIResponse.h"

using ZUB_DEVICE_MEDIATION::CLIResponse;
using ZUB_DEVICE_MEDIATION::ReplyClassifier;

namespace {

// Stands in for the mediator's 256 MiB cap, so that fuzz inputs reach it.
const size_t kCap = 4096;

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Reads one reply from `stream` at `offset`; false at the end of the stream
// or at the cap, as the mediator's read fails there.
bool readReply(const std::string& stream, size_t piece, size_t& offset,
               std::string& reply) {
  for (const char* tag : {"HVB", "#"}) {
    PromptMatcher matcher(tag);
    while (!matcher.matched()) {
      if (offset == stream.size() || reply.size() >= kCap) return false;
      size_t available = std::min(piece, stream.size() - offset);
      available = std::min(available, kCap - reply.size());
      const size_t used = matcher.feed(stream.data() + offset, available);
      reply.append(stream, offset, used);
      offset += used;
    }
  }
  return true;
}

void checkStored(const std::string& reply, const CLIResponse& response) {
  const std::string& context = response.getRspContext();
  const size_t prompt = reply.find("HVB");
  fuzzCheck(prompt != std::string::npos && endsWith(reply, "#"),
            "a reply holds a prompt and ends with its \"#\"");
  fuzzCheck(startsWith(context, "HVB") && endsWith(context, "#"),
            "the context is a prompt");
  fuzzCheck(endsWith(reply, context), "the context ends the reply");
  const bool tagged = reply.find('<') != std::string::npos;
  const std::string output = reply.substr(0, prompt);
  const auto& elements = response.getResponseList();
  const std::string& error = response.getError();
  if (tagged && prompt == 0) {
    fuzzCheck(context == reply && elements.empty() && error.empty(),
              "a reply that starts with its prompt is all context");
    return;
  }
  fuzzCheck(context == reply.substr(prompt),
            "the context starts at the prompt");
  fuzzCheck(elements.size() + (error.empty() ? 0 : 1) == 1,
            "one reply stores either one element or one error");
  if (!error.empty()) {
    // Tagged output is examined alone; plain output together with its
    // prompt, where "Error:" may follow a false "HVB" in the text.
    const std::string& examined = tagged ? output : reply;
    const size_t start = examined.find("Error:");
    fuzzCheck(start != std::string::npos &&
                  examined.compare(start, error.size(), error) == 0,
              "the error is the examined text's, from its first \"Error:\"");
    const size_t end = start < prompt && !tagged ? prompt : examined.size();
    fuzzCheck(start + error.size() == end,
              "the error runs to the prompt or the end");
    return;
  }
  const std::string& element = elements.front();
  if (!tagged) {
    fuzzCheck(element == output, "plain output is kept whole");
  } else {
    const size_t first = output.find('<');
    fuzzCheck(
        element == (first == std::string::npos ? "" : output.substr(first)),
        "tagged output is kept from its first \"<\"");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const size_t piece = input.ConsumeIntegralInRange<size_t>(1, 1024);
  const std::string stream = input.ConsumeRemainingBytesAsString();

  CLIResponse all;  // every reply of the stream, as send() accumulates them
  size_t offset = 0;
  size_t errors = 0;
  for (;;) {
    std::string reply;
    if (!readReply(stream, piece, offset, reply)) break;
    const std::string original = reply;
    CLIResponse one;
    std::string copy = reply;
    ReplyClassifier::store(copy, one);
    checkStored(original, one);
    if (!one.getError().empty()) ++errors;
    ReplyClassifier::store(reply, all);
    fuzzCheck(all.getRspContext() == one.getRspContext(),
              "the latest reply's context replaces earlier ones");
  }
  fuzzCheck(
      errors == 0 || all.getError().size() >= errors * 6 + (errors - 1) * 3,
      "errors are joined, none dropped");
  return 0;
}
