// The XML layer over libexpat: what hostile documents do.
#include <zubdm/host/DOMBuilder.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <zubdm/host/DOMDocument.h>
#include <zubdm/host/XmlDom.h>
#include "support/DomText.h"
#include "support/ProcessState.h"

namespace {

using TAV::XML::Node;

Node* parse(const std::string& text) {
  std::istringstream stream(text);
  TAV::XML::CInputSource source(&stream);
  return TAV::XML::DOMBuilder(nullptr).parseDOMInputSource(&source);
}

// The parser's message, or "" when the text parses.
std::string parseError(const std::string& text) {
  try {
    parse(text)->release();
  } catch (const TAV::XML::CXMLException& e) {
    return e.GetMsg();
  }
  return "";
}

// `count` elements written as domText writes them back, each with
// attributes from `attribute(i)`, inside <r>.
std::string elements(int count, const std::function<std::string(int)>& attribute) {
  std::string text = "<r>";
  for (int i = 0; i < count; ++i) text += "<e" + attribute(i) + "></e>";
  return text + "</r>";
}

}  // namespace

TEST(DOMBuilderParse, TreesReadBackAsTheyWereWritten) {
  const std::string limit(2048, 'v');
  struct Row {
    const char* name;      // what would go wrong
    std::string document;
    std::string tree;      // as domText writes it; empty: the document itself
  } rows[] = {
      {"attributes in order, names shared", "<a x=\"1\" y=\"2\"><b x=\"3\"></b><b y=\"\"></b></a>", ""},
      {"one text of its pieces, references resolved",
       "<a>x&amp;y\r\n<![CDATA[<z>]]>&#65;</a>", "<a>x&y\n<z>A</a>"},
      {"layout dropped, text with blanks kept", "<a>\n <b> t </b>\r\n\t</a>", "<a><b> t </b></a>"},
      {"comments around and inside the root", "<!--p--><a><!--i-->x<!----></a><!--e-->", ""},
      {"values at the inline limit and past it",
       "<a x=\"" + limit + "\" y=\"" + limit + "w\"></a>", ""},
      {"a text run too long to copy", "<a>" + std::string(100000, 't') + "</a>", ""},
      {"records across many chunks",
       elements(9000, [](int i) { return " i=\"" + std::to_string(i) + "\" v=\"" +
                                         std::string(i % 97, 'x') + "\""; }), ""},
      {"one element's attributes across chunks", elements(1, [](int) {
         std::string attributes;
         for (int i = 0; i < 4000; ++i) attributes += " a" + std::to_string(i) + "=\"" + std::string(25, 'z') + "\"";
         return attributes;
       }), ""},
      {"more names than the name cache holds",
       elements(5000, [](int i) { return " n" + std::to_string(i) + "=\"" + std::to_string(i) + "\""; }), ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Node* document = parse(row.document);
    EXPECT_EQ(domText(document), row.tree.empty() ? row.document : row.tree);
    document->release();
  }
}

TEST(DOMBuilderNodes, AreMadeOnceAndAttributeMapsKeepTheirDocument) {
  Node* document = parse("<a><b x=\"1\"/><c/></a>");
  Node* a = document->getFirstChild();
  Node* b = a->getFirstChild();
  EXPECT_EQ(document->getFirstChild(), a);
  EXPECT_EQ(a->getFirstChild(), b);
  EXPECT_EQ(b->getNextSibling(), b->getNextSibling());
  EXPECT_EQ(b->getNextSibling()->getNodeName(), "c");
  TAV::XML::NamedNodeMap* attributes = b->getAttributes();
  document->release();
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ(attributes->item(0)->getName() + "=" + attributes->item(0)->getValue(), "x=1");
  attributes->release();
}

TEST(DOMBuilderParse, TreesHoldLessThanTheirDocument) {
  struct Row {
    const char* shape;
    std::string object;  // one object, %d for its number
    double most;         // tree bytes per document byte
  } rows[] = {
      {"small objects", "<OBJ id=\"%d\"><ITEM a=\"v%d\" b=\"abcdefghijklmnopqrstuvwxyzabcdefghijklmn\"/></OBJ>",
       0.95},
      {"256-byte objects", "  <OBJ id=\"bulk%010d\">\r\n    <data index=\"%010d\" fill=\"" +
                               std::string(176, 'x') + "\"/>\r\n  </OBJ>\r\n",
       0.9},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shape);
    std::string text = "<SHOW>\r\n";
    char object[512];
    for (int i = 1; text.size() < (std::size_t{4} << 20); ++i) {
      std::snprintf(object, sizeof object, row.object.c_str(), i, i);
      text += object;
    }
    text += "</SHOW>\r\n";
    Node* document = parse(text);
    const double ratio =
        static_cast<double>(static_cast<TAV::XML::DOMDocument*>(document)->bytesHeld()) /
        static_cast<double>(text.size());
    EXPECT_LE(ratio, row.most);
    document->release();
  }
}

TEST(DOMBuilderParse, DocumentTypeDeclarationsAreRejectedWithoutExpansion) {
  char path[] = "/tmp/zubdm-entity-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "SECRET-FILE-CONTENT";
  // Entities that expand a billion times, read a file, or pull one in.
  std::string text = "<!DOCTYPE SHOW [<!ENTITY x SYSTEM \"file://" + std::string(path) +
                     "\"><!ENTITY % p SYSTEM \"" + path + "\"> %p; <!ENTITY l0 \"lollollollol\">";
  for (int i = 1; i < 12; ++i) {
    text += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) text += "&l" + std::to_string(i - 1) + ";";
    text += "\">";
  }
  const auto start = std::chrono::steady_clock::now();
  std::string message;
  const long growth =
      ProcessState::peakGrowthKiB([&] { message = parseError(text + "]><SHOW>&x;&l11;</SHOW>"); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_LT(growth, 64 * 1024);
  EXPECT_EQ(message.rfind("document type declaration not accepted", 0), 0u) << message;
  EXPECT_EQ(message.find("SECRET"), std::string::npos);
  std::remove(path);
}

TEST(DOMBuilderParse, MillionDeepNestingParsesWalksAndFrees) {
  const int depth = 1000000;
  std::string open, close;
  for (int i = 0; i < depth; ++i) open += "<a>", close += "</a>";
  Node* document = parse(open + "x" + close);
  int levels = 0;
  Node* node = document->getFirstChild();
  for (; node && node->getNodeType() == Node::ELEMENT_NODE; node = node->getFirstChild()) {
    ++levels;
  }
  EXPECT_EQ(levels, depth);
  EXPECT_EQ(node ? node->getNodeValue() : "", "x");
  document->release();
  // The position is counted from 1, in bytes.
  EXPECT_EQ(parseError(open), "no element found at line 1, column 3000001");
}
