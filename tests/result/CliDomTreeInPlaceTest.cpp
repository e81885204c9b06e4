#include <gtest/gtest.h>

#include <string>

#include "result/CliDomTree.h"

namespace {

struct Outcome {
  size_t errors;
  std::string value;  // of 1/I/v; empty when not found
  std::string pending;
};

// Parses `text` after `collected` was added, either through the collected
// output or with the in-place overload.
Outcome parse(const std::string& collected, const std::string& text,
              bool inPlace) {
  CliDomTree tree;
  QOR_error first;
  tree.add_cli_output("<SHOW><OBJ id=\"1\"><I v=\"old\"/></OBJ></SHOW>");
  tree.parse_cli(first);
  tree.add_cli_output(collected);
  QOR_error error;
  if (inPlace) {
    tree.parse_cli(text, error);
  } else {
    tree.add_cli_output(text);
    tree.parse_cli(error);
  }
  Outcome outcome{error.entries.size(), "", tree.pending_output()};
  tree.find_value("1", "I", "v", outcome.value);
  return outcome;
}

}  // namespace

TEST(CliDomTreeParse, TextParsedInPlaceGivesWhatCollectingItGives) {
  const struct {
    const char* collected;
    const char* text;
  } cases[] = {
      {"", "echo\r\n<SHOW><OBJ id=\"1\"><I v=\"new\"/></OBJ></SHOW>\r\nHVB#"},
      {"", "<SHOW><OBJ id=\"1\"><I v=\"cut\"/></OBJ></SHOW>junk</SHOW>"},
      {"", " \t\r\n"},
      {"", ""},
      {"", "Error: Invalid input"},
      {"", "<SHOW><OBJ id=\"1\">\r\nHVB#"},
      {"<SHOW><OBJ id=\"1\">", "<I v=\"joined\"/></OBJ></SHOW>"},
      {"noise <SH", "OW><OBJ id=\"1\"><I v=\"split\"/></OBJ></SHOW>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.collected) + "|" + c.text);
    const Outcome collected = parse(c.collected, c.text, false);
    const Outcome inPlace = parse(c.collected, c.text, true);
    EXPECT_EQ(inPlace.errors, collected.errors);
    EXPECT_EQ(inPlace.value, collected.value);
    EXPECT_EQ(inPlace.pending, "");
    EXPECT_EQ(collected.pending, "");
  }
}
