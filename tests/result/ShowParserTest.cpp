#include <zubdm/result/ShowParser.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/DomText.h"

using zubdm::internal::ShowParser;

TEST(ShowParserFeed, FindsTheEndAcrossPiecesAndTakesNothingAfterIt) {
  using Outcome = ShowParser::Outcome;
  struct Row {
    const char* name;
    std::vector<std::string> pieces;  // fed one by one (the last not flagged), then finish()
    std::vector<size_t> taken;        // what feed() took of each
    Outcome outcome;
    const char* result;  // domText of the document, or the failure's text
  } rows[] = {
      {"end split over two pieces", {"<SHOW><O v=\"1\"/></SH", "OW>\r\nHVB#"}, {20, 3},
       Outcome::Document, "<SHOW><O v=\"1\"></O></SHOW>"},
      {"end in one-byte pieces", {"<SHOW>", "<", "/", "S", "H", "O", "W", ">", "x"},
       {6, 1, 1, 1, 1, 1, 1, 1, 0}, Outcome::Document, "<SHOW></SHOW>"},
      {"an end without its '>' is none", {"<SHOW><!-- </SHOW", " --></SHOW>"}, {17, 11},
       Outcome::Document, "<SHOW><!-- </SHOW --></SHOW>"},
      {"the first end is the end", {"<SHOW><SHOW></SHOW></SHOW>"}, {19}, Outcome::Failed,
       "no element found at line 1, column 20"},
      {"no end: the output ends the document", {"<SHOW><O>", "</O>"}, {9, 4}, Outcome::Failed,
       "no element found at line 1, column 14"},
      {"blanks only", {" \r\n", "\t"}, {3, 1}, Outcome::Blank, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ShowParser parser;
    std::vector<size_t> taken;
    for (const std::string& piece : row.pieces) {
      taken.push_back(parser.feed(piece.data(), piece.size()));
    }
    EXPECT_EQ(taken, row.taken);
    ASSERT_EQ(parser.finish(), row.outcome);
    EXPECT_EQ(parser.finish(), row.outcome);
    std::string result;
    if (TAV::XML::Node* document = parser.takeDocument()) {
      result = domText(document);
      document->release();
    } else if (row.outcome == Outcome::Failed) {
      result = parser.failure().text();
    }
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(parser.feed("<SHOW/>", 7), 0u);
  }
}
