#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "result/ZubTokenParser.h"

namespace {

TEST(ZubTokenParserNextField, YieldsFieldsThenEmptyStringsOnceExhausted) {
  const struct {
    const char* text;
    const char* delimiters;
    std::vector<std::string> fields;
  } cases[] = {
      {"<OBJ id=\"1\" state=\"up\"/>", "<>", {"OBJ id=\"1\" state=\"up\"/"}},
      {"a<b>>c<<", "<>", {"a", "b", "c"}},
      {"\"up\" rest", "\"", {"up", " rest"}},
      {"", "<>", {}},
      {"<<>>", "<>", {}},
      {"no delimiters", "", {"no delimiters"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ZubTokenParser parser(c.text, c.delimiters);
    for (const std::string& field : c.fields) {
      EXPECT_TRUE(parser.hasMoreTokens());
      EXPECT_EQ(parser.nextField(), field);
    }
    for (int again = 0; again < 3; ++again) {
      EXPECT_FALSE(parser.hasMoreTokens());
      EXPECT_EQ(parser.nextField(), "");
    }
  }
}

}  // namespace
