#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mediator/ReplyBuffer.h"

using ZUB_DEVICE_MEDIATION::ReplyBuffer;

namespace {

// Byte `i` of a reply: a pattern that a lost, doubled or shifted page shows.
char patternByte(size_t i) {
  return static_cast<char>((i * 131 + i / 4096) & 0xff);
}

}  // namespace

TEST(ReplyBuffer, GrowthKeepsEveryByteThroughSmallAndMappedSizes) {
  const size_t kMiB = size_t{1} << 20;
  const struct {
    const char* name;
    std::vector<size_t> pieces;
  } cases[] = {
      {"1024-byte reads past 4 MiB", std::vector<size_t>(4 * 1024 + 3, 1024)},
      {"odd pieces across every doubling",
       {1, 8191, 2, 1 * kMiB - 5, 3, kMiB + 7, 2 * kMiB, 5 * kMiB + 1, 1}},
      {"one piece larger than a huge page", {9 * kMiB + 123}},
      {"small only", {5, 100, 4000}},
  };
  ReplyBuffer buffer;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    buffer.clear();
    std::string source;
    size_t total = 0;
    for (size_t piece : c.pieces) total += piece;
    source.reserve(total);
    for (size_t i = 0; i < total; ++i) source.push_back(patternByte(i));

    size_t at = 0;
    for (size_t piece : c.pieces) {
      buffer.append(source.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(buffer.size(), total);
    EXPECT_TRUE(std::string(buffer.data(), buffer.size()) == source)
        << "contents differ";
  }
  // After a large reply the buffer starts again from nothing.
  buffer.clear();
  EXPECT_EQ(buffer.size(), 0u);
  buffer.append("HVB#", 4);
  EXPECT_EQ(std::string(buffer.data(), buffer.size()), "HVB#");
}
