#include <zubdm/result/CliDomTree.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zubdm/result/ShowParser.h>

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

TEST(CliDomTreeFind, WalksOnlyTheFirstNodesChildrenPastTextAndComments) {
  const std::string longValue(3000, 'q');
  struct Row {
    const char* name;
    std::string output;
    const char* value;  // of OBJ 1 / I / v; null: not found
  } rows[] = {
      {"objects and items among text and comments",
       "<SHOW>t<!--c--><OBJ id=\"0\"/>u<OBJ id=\"1\">w<!--d--><IX v=\"no\"/>x<I v=\"yes\"/></OBJ></SHOW>",
       "yes"},
      {"a comment first (no \"<SHOW\" to cut at): it has no children",
       "<!--c--><R><OBJ id=\"1\"><I v=\"x\"/></OBJ></R>", nullptr},
      {"an item's own children are not searched",
       "<SHOW><OBJ id=\"1\"><K><I v=\"deep\"/></K></OBJ></SHOW>", nullptr},
      {"a value kept apart from the records",
       "<SHOW><OBJ id=\"1\"><I v=\"" + longValue + "\"/></OBJ></SHOW>", longValue.c_str()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CliDomTree tree;
    QOR_error error;
    tree.parse_cli(row.output, error);
    ASSERT_FALSE(error.is_set());
    std::string value = "stale";
    EXPECT_EQ(tree.find_value("1", "I", "v", value), row.value ? 1 : 0);
    EXPECT_EQ(value, row.value ? row.value : "");
  }
}

TEST(CliDomTreeNodes, SiblingAndAttributeHelpersMatchTypesAndNamesExactly) {
  const std::string text = "<a><!--c-->t<b vw=\"1\" v=\"2\"/><c/></a>";
  TAV::XML::CInputSource source(text.data(), text.size());
  TAV::XML::Node* document = TAV::XML::DOMBuilder().parseDOMInputSource(&source);
  TAV::XML::Node* first = document->getFirstChild()->getFirstChild();  // the comment
  CliDomTree tree;
  struct Row {
    unsigned short type;      // looked for from the comment on
    const char* attribute;    // then looked up on the node found
    const char* name;         // of the node found; null: none
    const char* value;        // of the attribute; null: not found
  } rows[] = {
      {TAV::XML::Node::COMMENT_NODE, "v", "#comment", nullptr},
      {TAV::XML::Node::ELEMENT_NODE, "v", "b", "2"},   // "v", not "vw"
      {TAV::XML::Node::ELEMENT_NODE, "x", "b", nullptr},
      {TAV::XML::Node::TEXT_NODE, "v", "#text", nullptr},
      {TAV::XML::Node::DOCUMENT_NODE, "v", nullptr, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.type) + " " + row.attribute);
    TAV::XML::Node* found = tree.getNextSiblingNode(first, row.type);
    EXPECT_EQ(found ? found->getNodeName() : "", row.name ? row.name : "");
    std::string value = "untouched";
    EXPECT_EQ(tree.getXmlAttribute(found, row.attribute, value), row.value != nullptr);
    EXPECT_EQ(value, row.value ? row.value : "untouched");
  }
  document->release();
}

TEST(CliDomTreeAdopt, TakesAParsersOutcomeAsParseCliWouldAndLeavesItAsNew) {
  struct Row {
    const char* name;
    std::vector<std::string> pieces;  // fed to a ShowParser
    bool abandoned;                   // abandon() before adopt()
    bool fails;                       // one parse error entry
    const char* value;                // of 1/I/v afterwards; "" when not found
  } rows[] = {
      {"a document in pieces replaces the held one",
       {"<SHOW><OBJ id=\"1\"><I v", "=\"new\"/></OBJ></SH", "OW>HVB#"}, false, false, "new"},
      {"a broken one drops it", {"<SHOW><OBJ id=\"1\">", "</SHOW>"}, false, true, ""},
      {"blank output keeps it", {"\r\n", " "}, false, false, "old"},
      {"an abandoned parse keeps it", {"<SHOW><OBJ id=\"1\"><I v=\"new\"/></OBJ>"}, true, false, "old"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CliDomTree tree;
    QOR_error error;
    tree.parse_cli("<SHOW><OBJ id=\"1\"><I v=\"old\"/></OBJ></SHOW>", error);
    zubdm::internal::ShowParser parser;
    for (const std::string& piece : row.pieces) parser.feed(piece.data(), piece.size());
    if (row.abandoned) parser.abandon();
    tree.adopt(parser, error);
    ASSERT_EQ(error.entries.size(), row.fails ? 1u : 0u);
    EXPECT_TRUE(!row.fails || (error.entries[0].code == QOR_XML_PARSE_ERROR &&
                               error.entries[0].text.find(" at line 1, column ") != std::string::npos));
    std::string value;
    EXPECT_EQ(tree.find_value("1", "I", "v", value), *row.value ? 1 : 0);
    EXPECT_EQ(value, row.value);
    // The parser was left as new: nothing more to adopt.
    tree.adopt(parser, error);
    EXPECT_EQ(error.entries.size(), row.fails ? 1u : 0u);
    EXPECT_EQ(tree.find_value("1", "I", "v", value), *row.value ? 1 : 0);
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
