// Value extraction from arbitrary messages with arbitrary markers, keys and
// delimiter sets.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "result/CLIResult.h"

using ZUB_DEVICE_MEDIATION::CLIResult;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string marker = input.ConsumeRandomLengthString(12);
  const std::string key = input.ConsumeRandomLengthString(12);
  const std::string delimiters = input.ConsumeRandomLengthString(6);
  std::vector<std::string> messages;
  const size_t count = input.ConsumeIntegralInRange<size_t>(0, 4);
  for (size_t i = 0; i < count; ++i) {
    messages.push_back(
        input.ConsumeRandomLengthString(input.remaining_bytes()));
  }
  messages.push_back(input.ConsumeRemainingBytesAsString());

  CLIResult result;
  result.appendMessageList(messages);
  std::vector<std::string> values = {"kept"};
  const int found = result.getXMLValues(values, marker, key, delimiters);
  fuzzCheck(found >= 0 && values.size() == 1 + static_cast<size_t>(found),
            "the count is the number of values appended");
  fuzzCheck(values.front() == "kept", "earlier values are kept");
  size_t bytes = 0;
  for (const std::string& message : messages) bytes += message.size();
  for (size_t i = 1; i < values.size(); ++i) {
    fuzzCheck(values[i].find_first_of(delimiters) == std::string::npos,
              "a value holds no delimiter");
    fuzzCheck(values[i].find_first_of("<>") == std::string::npos,
              "a value stays inside one field");
  }
  fuzzCheck(static_cast<size_t>(found) <= bytes, "at most one value per field");
  std::vector<std::string> lines;
  result.toPrettyPrint(lines);
  fuzzCheck(lines.size() == messages.size() + 3,
            "one line per message and three more");
  return 0;
}
