#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "result/CliDomTree.h"
#include "support/LogCapture.h"

namespace {

const char kShowOutput[] =
    "HVB#show interfaces\r\n"
    "<SHOW version=\"1\">\n"
    "  <OBJ id=\"a\">\n"
    "    <ITEM v=\"1\"/>\n"
    "    <!-- comment between items -->\n"
    "    <OTHER v=\"2\" w=\"3\">text</OTHER>\n"
    "  </OBJ>\n"
    "  <OBJ id=\"b\"/>\n"
    "  <OBJ id=\"dup\"><OTHER v=\"first\"/></OBJ>\n"
    "  <OBJ id=\"dup\"><ITEM v=\"second\"/><OTHER v=\"later\"/></OBJ>\n"
    "  <OBJ><ITEM v=\"no id\"/></OBJ>\n"
    "</SHOW>\r\n"
    "HVB(config)#";

// A reader that has parsed `text` without error.
void load(CliDomTree& tree, const std::string& text) {
  QOR_error error;
  tree.add_cli_output(text);
  tree.parse_cli(error);
  ASSERT_FALSE(error.is_set()) << error.entries[0].text;
}

TEST(CliDomTreeFind, LooksUpObjectItemAttributeInDocumentOrder) {
  CliDomTree tree;
  load(tree, kShowOutput);
  const struct {
    const char* id;
    const char* item;
    const char* attribute;
    int found;
    const char* value;
  } cases[] = {
      {"a", "ITEM", "v", 1, "1"},
      {"a", "OTHER", "w", 1, "3"},  // after whitespace and a comment
      {"a", "MISSING", "v", 0, ""},
      {"a", "ITEM", "w", 0, ""},
      {"A", "ITEM", "v", 0, ""},
      {"a", "item", "v", 0, ""},
      {"b", "ITEM", "v", 0, ""},
      {"dup", "ITEM", "v", 1, "second"},  // only the later object has it
      {"dup", "OTHER", "v", 1, "first"},  // the first match wins
      {"zzz", "ITEM", "v", 0, ""},
      {"", "ITEM", "v", 0, ""},
      {"a", "ITEM", "", 0, ""},
      {nullptr, "ITEM", "v", 0, ""},
      {"a", nullptr, "v", 0, ""},
      {"a", "ITEM", nullptr, 0, ""},
  };
  LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.id ? c.id : "null") + "/" +
                 (c.item ? c.item : "null") + "/" +
                 (c.attribute ? c.attribute : "null"));
    std::string value = "stale";
    EXPECT_EQ(tree.find_value(c.id, c.item, c.attribute, value), c.found);
    EXPECT_EQ(value, c.value);
  }
  EXPECT_TRUE(log.texts().empty());
}

TEST(CliDomTreeFind, MissingLevelsLogAndFindNothing) {
  const struct {
    const char* output;   // null: nothing parsed
    const char* message;  // null: nothing logged
  } cases[] = {
      {nullptr, "Nothing to parse ..."},
      {"<SHOW/>", "Did not find <OBJ> Node"},
      {"<SHOW></SHOW>", "Did not find <OBJ> Node"},
      {"<SHOW>\n</SHOW>", "Did not find <OBJ> Node"},  // layout only
      {"<SHOW>only text</SHOW>", nullptr},  // a text child, but no object
      {"Error: no such command", "Nothing to parse ..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output ? c.output : "(new reader)");
    CliDomTree tree;
    if (c.output != nullptr) {
      QOR_error error;
      tree.add_cli_output(c.output);
      tree.parse_cli(error);
    }
    LogCapture log;
    std::string value = "stale";
    EXPECT_EQ(tree.find_value("a", "ITEM", "v", value), 0);
    EXPECT_EQ(value, "");
    const std::vector<HostLogRecord> records = log.records();
    if (c.message == nullptr) {
      EXPECT_TRUE(records.empty());
      continue;
    }
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, c.message);
    EXPECT_EQ(records[0].severity, 3u);
    EXPECT_STREQ(records[0].file, "CliDomTree");
    EXPECT_STREQ(records[0].function, "find_value");
  }
}

TEST(CliDomTreeParse, OutputIsCutToTheShowBlockAndAlwaysConsumed) {
  const char* kGood = "<SHOW><OBJ id=\"1\"><I v=\"old\"/></OBJ></SHOW>";
  const struct {
    std::vector<const char*> pieces;
    int errors;
    const char* value;  // value of 1/I/v afterwards; "" when not found
  } cases[] = {
      {{"HVB#sh", "ow\r\nnoise<SH", "OW><OBJ id=\"1\"><I v=\"new\"/></OBJ>",
        "</SHOW>\r\nHVB#"},
       0,
       "new"},
      {{"<SHOW><OBJ id=\"1\"><I v=\"cut\"/></OBJ></SHOW>junk</SHOW>"},
       0,
       "cut"},
      {{"</SHOW>\r\n<SHOW><OBJ id=\"1\"><I v=\"late\"/></OBJ></SHOW>"},
       0,
       "late"},
      {{" \t\r\n", "\n"}, 0, "old"},  // blank: the earlier document stays
      {{""}, 0, "old"},
      {{"Error: Invalid input"}, 1, ""},          // no <SHOW at all
      {{"<SHOW><OBJ id=\"1\">\r\nHVB#"}, 1, ""},  // cut off before </SHOW>
      {{"<SHOW><OBJ id=\"1\"></SHOW>"}, 1, ""},
      {{"x<SHOW>&bogus;</SHOW>"}, 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pieces[0]);
    CliDomTree tree;
    load(tree, kGood);
    QOR_error error;
    for (const char* piece : c.pieces) tree.add_cli_output(piece);
    tree.parse_cli(error);

    EXPECT_EQ(tree.pending_output(), "");
    ASSERT_EQ(error.entries.size(), static_cast<size_t>(c.errors));
    if (c.errors != 0) {
      EXPECT_EQ(error.entries[0].code, QOR_XML_PARSE_ERROR);
      EXPECT_NE(error.entries[0].text.find(" at line "), std::string::npos)
          << error.entries[0].text;
    }
    LogCapture log;
    std::string value;
    EXPECT_EQ(tree.find_value("1", "I", "v", value), *c.value ? 1 : 0);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(log.contains("Nothing to parse ..."), c.errors != 0);
  }
}

}  // namespace
