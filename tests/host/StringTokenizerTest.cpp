#include <zubdm/host/StringTokenizer.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(StringTokenizer, RunsOfDelimitersYieldNoEmptyTokensThenEmptyOnesForever) {
  struct Row {
    const char* text;
    const char* delimiters;
    std::vector<std::string> tokens;
  } rows[] = {
      {"<OBJ id=\"1\"><a x=\"y\"/>", "<>", {"OBJ id=\"1\"", "a x=\"y\"/"}},
      {",,a,,b,,", ",", {"a", "b"}},
      {",,,", ",", {}},
      {"whole", "", {"whole"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    StringTokenizer tokenizer(row.text, row.delimiters);
    std::vector<std::string> tokens;
    while (tokenizer.hasMoreTokens()) tokens.push_back(tokenizer.nextToken());
    EXPECT_EQ(tokens, row.tokens);
    EXPECT_EQ(tokenizer.nextToken() + tokenizer.nextToken(), "");
  }
}
