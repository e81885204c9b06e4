// The error text cut from arbitrary reply text.
#include <string>

#include "FuzzSupport.h"
#include "mediator/ReplyClassifier.h"

using zubdm::internal::ReplyClassifier;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string error = ReplyClassifier::checkError(text);
  const size_t start = text.find("Error:");
  if (start == std::string::npos) {
    fuzzCheck(error.empty(), "no error without \"Error:\"");
    return 0;
  }
  fuzzCheck(text.compare(start, error.size(), error) == 0,
            "the error is the text at the first \"Error:\"");
  const size_t end = start + error.size();
  const size_t prompt = text.find("HVB");
  if (prompt != std::string::npos && prompt > start) {
    fuzzCheck(end == prompt, "a later prompt ends the error");
  } else {
    fuzzCheck(end == text.size(),
              "without a later prompt the error runs to the end");
  }
  return 0;
}
