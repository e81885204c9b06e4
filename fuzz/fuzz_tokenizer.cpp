// StringTokenizer and ZubTokenParser on arbitrary text and delimiter sets:
// the tokens are exactly the maximal runs of non-delimiters, in order, and an
// exhausted parser keeps yielding empty fields.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzSupport.h"
#include "result/ZubTokenParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string delimiters = input.ConsumeRandomLengthString(8);
  const std::string text = input.ConsumeRemainingBytesAsString();

  ZubTokenParser parser(text, delimiters);
  size_t position = 0;
  while (parser.hasMoreTokens()) {
    const std::string token = parser.nextField();
    fuzzCheck(!token.empty(), "no empty tokens");
    // The next run of non-delimiters in the text must be this token.
    const size_t start = text.find_first_not_of(delimiters, position);
    fuzzCheck(start != std::string::npos, "no token beyond the last run");
    fuzzCheck(text.compare(start, token.size(), token) == 0, "tokens in order");
    position = start + token.size();
    fuzzCheck(position == text.size() ||
                  delimiters.find(text[position]) != std::string::npos,
              "a token runs to the next delimiter");
  }
  fuzzCheck(text.find_first_not_of(delimiters, position) == std::string::npos,
            "every run is a token");
  for (int i = 0; i < 2; ++i) {
    fuzzCheck(parser.nextField().empty(), "exhausted: empty fields");
    fuzzCheck(parser.nextToken().empty(), "exhausted: empty tokens");
  }
  return 0;
}
