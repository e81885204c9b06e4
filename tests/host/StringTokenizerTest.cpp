#include "host/StringTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
std::vector<std::string> tokens(const std::string& text, const std::string& delimiters) {
  StringTokenizer tokenizer(text, delimiters);
  std::vector<std::string> out;
  while (tokenizer.hasMoreTokens()) out.push_back(tokenizer.nextToken());
  EXPECT_EQ(tokenizer.nextToken(), "");
  return out;
}
}  // namespace

TEST(StringTokenizer, RunsOfDelimitersYieldNoEmptyTokens) {
  using V = std::vector<std::string>;
  EXPECT_EQ(tokens("<OBJ id=\"1\"><a x=\"y\"/>", "<>"), (V{"OBJ id=\"1\"", "a x=\"y\"/"}));
  EXPECT_EQ(tokens("\"up\" rest", "\""), (V{"up", " rest"}));
  EXPECT_EQ(tokens(",,a,,b,,", ","), (V{"a", "b"}));
  EXPECT_EQ(tokens("", ","), V{});
  EXPECT_EQ(tokens(",,,", ","), V{});
  EXPECT_EQ(tokens("whole", ""), V{"whole"});
}
