#include <zubdm/result/CliDomTree.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(CliDomTreeFind, LooksUpObjectItemAttributeExactlyAndInDocumentOrder) {
  CliDomTree tree;
  QOR_error error;
  tree.parse_cli(
      "HVB#show x\r\n<SHOW>\n <OBJ id=\"ab\"><ITEM x=\"ab\"/></OBJ>\n"
      " <OBJ id=\"a\"> <!-- c --> <ITEM vw=\"p\" v=\"1\" w=\"&lt;&#65;\"/></OBJ>\n"
      " <OBJ id=\"dup\"><OTHER v=\"first\"/></OBJ>\n"
      " <OBJ id=\"dup\"><ITEM v=\"second\"/><OTHER v=\"later\"/></OBJ></SHOW>\r\nHVB#",
      error);
  ASSERT_FALSE(error.is_set());
  struct Row {
    const char* id;
    const char* item;
    const char* attribute;
    const char* value;  // null: not found (0, value emptied)
  } rows[] = {
      {"a", "ITEM", "w", "<A"},        // after a comment; references resolved
      {"a", "ITEM", "x", nullptr},     // "ab"'s: ids match exactly
      {"a", "ITEM", "v", "1"},         // "v", not "vw": names match exactly
      {"a", "item", "v", nullptr},     // case-sensitive
      {"dup", "ITEM", "v", "second"},  // the next object with the id
      {"dup", "OTHER", "v", "first"},  // the first match wins
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.id) + "/" + row.item);
    std::string value = "stale";
    EXPECT_EQ(tree.find_value(row.id, row.item, row.attribute, value), row.value ? 1 : 0);
    EXPECT_EQ(value, row.value ? row.value : "");
  }
}

TEST(CliDomTreeParse, OutputIsCutToTheShowBlockParsedInPlaceOrCollectedAndNeverKept) {
  struct Row {
    std::vector<const char*> pieces;  // output in the pieces it came in
    bool fails;                       // one parse error entry
    const char* value;                // of 1/I/v afterwards; "" when not found
  } rows[] = {
      {{"HVB#sh", "ow\r\nnoise\r\n<SH", "OW><OBJ id=\"1\"><I v=\"new\"/></OBJ>", "</SHOW>\r\nHVB#"},
       false, "new"},
      // Only a "<SHOW" that starts a line begins the document.
      {{"see <SHOW><OBJ id=\"1\"><I v=\"user\"/></OBJ></SHOW>"}, true, ""},
      {{"<SHOW><OBJ id=\"1\"><I v=\"cut\"/></OBJ></SHOW>junk</SHOW>"}, false, "cut"},
      {{"</SHOW>\r\n<SHOW><OBJ id=\"1\"><I v=\"late\"/></OBJ></SHOW>"}, false, "late"},
      {{" \t\r\n", "\n"}, false, "old"},  // blanks: the earlier document stays
      {{"Error: Invalid input"}, true, ""},
      {{"<SHOW><OBJ id=\"1\">\r\nHVB#"}, true, ""},  // cut off before </SHOW>
      {{"<SHOW>\n</SHOW>"}, false, ""},                 // no object at all
  };
  for (const Row& row : rows) {
    for (const bool inPlace : {false, true}) {
      SCOPED_TRACE(std::string(row.pieces.back()) + (inPlace ? " in place" : " collected"));
      CliDomTree tree;
      QOR_error error;
      tree.parse_cli("<SHOW><OBJ id=\"1\"><I v=\"old\"/></OBJ></SHOW>", error);
      for (size_t i = 0; i + (inPlace ? 1 : 0) < row.pieces.size(); ++i) {
        tree.add_cli_output(row.pieces[i]);
      }
      inPlace ? tree.parse_cli(row.pieces.back(), error) : tree.parse_cli(error);
      EXPECT_EQ(tree.pending_output(), "");
      ASSERT_EQ(error.entries.size(), row.fails ? 1u : 0u);
      EXPECT_TRUE(!row.fails || (error.entries[0].code == QOR_XML_PARSE_ERROR &&
                                 error.entries[0].text.find(" at line ") != std::string::npos));
      std::string value;
      EXPECT_EQ(tree.find_value("1", "I", "v", value), *row.value ? 1 : 0);
      EXPECT_EQ(value, row.value);
    }
  }
}
