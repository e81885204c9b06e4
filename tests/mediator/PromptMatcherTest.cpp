#include "mediator/PromptMatcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using zubdm::internal::PromptMatcher;

namespace {

// The byte-at-a-time form of first-character restart matching: the position
// just after the match, or npos.
size_t referenceMatch(const std::string& stream, const std::string& pattern) {
  size_t k = 0;
  for (size_t i = 0; i < stream.size(); ++i) {
    const char byte = stream[i];
    if (k == 0) {
      if (byte == pattern[0]) k = 1;
    } else if (byte == pattern[k]) {
      ++k;
    } else {
      k = byte == pattern[0] ? 1 : 0;
    }
    if (k == pattern.size()) return i + 1;
  }
  return std::string::npos;
}

// Feeds `stream` in pieces of `piece` bytes; the position after the match.
size_t chunkedMatch(const std::string& stream, const char* pattern, size_t piece) {
  PromptMatcher matcher(pattern);
  size_t offset = 0;
  while (offset < stream.size()) {
    const size_t length = std::min(piece, stream.size() - offset);
    offset += matcher.feed(stream.data() + offset, length);
    if (matcher.matched()) return offset;
  }
  return std::string::npos;
}

}  // namespace

TEST(PromptMatcher, RestartRulesOnKnownStreams) {
  struct Case {
    const char* stream;
    const char* pattern;
    size_t expected;
  } cases[] = {
      {"LLogin:", "Login:", 7},
      {"LoLogin:", "Login:", 8},
      {"xxHVB(config)#rest", "HVB", 5},
      {"HVHVB", "HVB", 5},
      {"HVxHVB", "HVB", 6},
      {"abc#", "#", 4},
      {"#", "#", 1},
      {"HV", "HVB", std::string::npos},
      {"", "HVB", std::string::npos},
      // An occurrence inside a failed partial match is not seen.
      {"aab", "ab", 3},
      {"abab", "aba", 3},
      {"aaba", "aba", 4},
      {"ababc", "abac", std::string::npos},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stream) + " / " + c.pattern);
    for (size_t piece : {1u, 2u, 3u, 1024u}) {
      EXPECT_EQ(chunkedMatch(c.stream, c.pattern, piece), c.expected);
    }
    EXPECT_EQ(referenceMatch(c.stream, c.pattern), c.expected);
  }
}

TEST(PromptMatcher, AnyPieceSizeAgreesWithByteAtATimeMatching) {
  std::mt19937 random(12345);
  const std::string alphabet = "HVB#<a\n";
  for (const char* pattern : {"HVB", "#", "Login:", "abab", "aab"}) {
    for (int round = 0; round < 400; ++round) {
      std::string stream(random() % 64, ' ');
      for (char& byte : stream) {
        byte = round % 2 ? alphabet[random() % alphabet.size()]
                         : pattern[random() % std::char_traits<char>::length(pattern)];
      }
      const size_t piece = 1 + random() % 9;
      ASSERT_EQ(chunkedMatch(stream, pattern, piece), referenceMatch(stream, pattern))
          << "stream '" << stream << "' pattern '" << pattern << "' piece " << piece;
    }
  }
}
