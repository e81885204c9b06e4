// PromptMatcher fed in pieces against a byte-at-a-time reference of
// first-character restart matching, for the prompts in use and for patterns
// taken from the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzSupport.h"
#include "mediator/PromptMatcher.h"

using zubdm::internal::PromptMatcher;

namespace {

// Index just after the byte that completes `pattern`, or npos.
size_t referenceMatch(const std::string& pattern, const std::string& data) {
  size_t progress = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    const char byte = data[i];
    if (progress != 0 && byte == pattern[progress]) {
      ++progress;
    } else {
      progress = byte == pattern[0] ? 1 : 0;
    }
    if (progress == pattern.size()) return i + 1;
  }
  return std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kPrompts[] = {"Login:", "Password:", "HVB", "#"};
  FuzzedDataProvider input(data, size);
  std::string pattern;
  const size_t choice = input.ConsumeIntegralInRange<size_t>(0, 4);
  if (choice < 4) {
    pattern = kPrompts[choice];
  } else {
    pattern = input.ConsumeRandomLengthString(16);
    // The matcher takes a NUL-terminated, non-empty pattern.
    pattern = pattern.substr(0, pattern.find('\0'));
    if (pattern.empty()) pattern = "#";
  }
  const size_t piece = input.ConsumeIntegralInRange<size_t>(1, 1024);
  const std::string stream = input.ConsumeRemainingBytesAsString();

  const size_t expected = referenceMatch(pattern, stream);
  PromptMatcher matcher(pattern.c_str());
  size_t offset = 0;
  while (offset < stream.size() && !matcher.matched()) {
    const size_t length = std::min(piece, stream.size() - offset);
    const size_t used = matcher.feed(stream.data() + offset, length);
    fuzzCheck(used <= length, "feed consumes at most what it is given");
    fuzzCheck(matcher.matched() || used == length,
              "feed consumes everything until the pattern is found");
    offset += used;
  }
  if (matcher.matched()) {
    fuzzCheck(offset == expected, "found where the reference finds it");
  } else {
    fuzzCheck(expected == std::string::npos, "found whenever the reference is");
  }
  return 0;
}
