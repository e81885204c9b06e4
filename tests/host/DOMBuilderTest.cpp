#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/DOMBuilder.h"
#include "host/XmlDom.h"

namespace {

using TAV::XML::CInputSource;
using TAV::XML::CXMLException;
using TAV::XML::DOMBuilder;
using TAV::XML::NamedNodeMap;
using TAV::XML::Node;

struct Releaser {
  void operator()(TAV::XML::DOMObject* object) const { object->release(); }
};
using NodeRef = std::unique_ptr<Node, Releaser>;

// A stream buffer that cannot seek, like a pipe.
class UnseekableBuffer : public std::stringbuf {
 public:
  explicit UnseekableBuffer(const std::string& text)
      : std::stringbuf(text, std::ios_base::in) {}

 protected:
  pos_type seekoff(off_type, std::ios_base::seekdir,
                   std::ios_base::openmode) override {
    return pos_type(off_type(-1));
  }
};

NodeRef parse(const std::string& text, bool seekable = true) {
  UnseekableBuffer unseekable(text);
  std::istringstream string_stream(text);
  std::istream pipe_stream(&unseekable);
  CInputSource source(seekable ? static_cast<std::istream*>(&string_stream)
                               : &pipe_stream);
  DOMBuilder builder(nullptr);
  return NodeRef(builder.parseDOMInputSource(&source));
}

// The parse error message, or "" when the text parses.
std::string parseError(const std::string& text) {
  try {
    parse(text);
  } catch (const CXMLException& e) {
    return e.GetMsg();
  }
  return "";
}

void appendAttributes(Node* node, std::string& out) {
  NamedNodeMap* map = node->getAttributes();
  if (map == nullptr) return;
  for (unsigned i = 0; i < map->getLength(); ++i) {
    out += " " + map->item(i)->getName() + "=" + map->item(i)->getValue();
  }
  map->release();
}

// Compact picture of the tree below `document`: elements as name[attrs],
// children in parentheses, texts in quotes, comments after '!'. Walks
// without recursion.
std::string dump(Node* document) {
  std::string out;
  std::vector<Node*> open;
  Node* node = document->getFirstChild();
  while (node != nullptr) {
    switch (node->getNodeType()) {
      case Node::ELEMENT_NODE:
        out += node->getNodeName() + "[";
        appendAttributes(node, out);
        out += "]";
        break;
      case Node::TEXT_NODE:
        out += "'" + node->getNodeValue() + "'";
        break;
      case Node::COMMENT_NODE:
        out += "!" + node->getNodeValue();
        break;
      default:
        out += "?";
    }
    if (node->getFirstChild() != nullptr) {
      out += "(";
      open.push_back(node);
      node = node->getFirstChild();
      continue;
    }
    while (node->getNextSibling() == nullptr && !open.empty()) {
      node = open.back();
      open.pop_back();
      out += ")";
    }
    node = node->getNextSibling();
  }
  return out;
}

long maxRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(DOMBuilderParse, WellFormedDocumentsGiveTheirTree) {
  const struct {
    const char* text;
    const char* tree;
  } cases[] = {
      {"<SHOW/>", "SHOW[]"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SHOW a='1'/>\n",
       "SHOW[ a=1]"},
      {"<SHOW>\n <OBJ id=\"7\" state=\"up\"/>\n</SHOW>",
       "SHOW[](OBJ[ id=7 state=up])"},
      {"<A> <B/> x <C/>\r\n\t</A>", "A[](B[]' x 'C[])"},
      // Text pieces split at line ends and references become one node.
      {"<A>x\ny&amp;&#x41;<![CDATA[<z>]]></A>", "A[]('x\ny&A<z>')"},
      {"<A v=\"&lt;&quot;&#65;\"><!--c--><B/></A><!--after-->",
       "A[ v=<\"A](!cB[])!after"},
      {"<A xmlns:p='u'><p:B p:c='d'/></A>", "A[ xmlns:p=u](p:B[ p:c=d])"},
      {"<A>\xC3\xA9</A>", "A[]('\xC3\xA9')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    for (bool seekable : {true, false}) {
      NodeRef document = parse(c.text, seekable);
      ASSERT_NE(document, nullptr);
      EXPECT_EQ(document->getNodeType(), Node::DOCUMENT_NODE);
      EXPECT_EQ(document->getAttributes(), nullptr);
      EXPECT_EQ(dump(document.get()), c.tree);
    }
  }
}

TEST(DOMBuilderParse, MalformedDocumentsThrowWithErrorAndPosition) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "no element found at line 1, column 1"},
      {"  \n", "no element found at line 2, column 1"},
      {"Error: unknown command", "syntax error at line 1, column 1"},
      {"<SHOW><OBJ></SHOW>", "mismatched tag at line 1, column 14"},
      {"<SHOW><OBJ", "unclosed token at line 1, column 7"},
      {"<SHOW>\n<OBJ id='1'>\n", "no element found at line 3, column 1"},
      {"<SHOW/><SHOW/>", "junk after document element at line 1, column 8"},
      {"<SHOW>&nbsp;</SHOW>", "undefined entity at line 1, column 7"},
      {"<A b='1' b='2'/>", "duplicate attribute at line 1, column 10"},
      {"<A>\xFF</A>", "not well-formed (invalid token) at line 1, column 4"},
      {"<A><!-- open </A>", "unclosed token at line 1, column 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseError(c.text), c.message);
  }
}

TEST(DOMBuilderParse, DocumentTypeDeclarationsAreRejectedWithoutExpansion) {
  char path[] = "/tmp/zubdm-entity-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "SECRET-FILE-CONTENT";
  const std::string file(path);

  std::string laughs = "<!DOCTYPE SHOW [<!ENTITY l0 \"lollollollol\">";
  for (int i = 1; i < 12; ++i) {
    const std::string prev = "&l" + std::to_string(i - 1) + ";";
    std::string body;
    for (int k = 0; k < 10; ++k) body += prev;
    laughs += "<!ENTITY l" + std::to_string(i) + " \"" + body + "\">";
  }
  laughs += "]><SHOW>&l11;</SHOW>";

  const std::string cases[] = {
      laughs,
      "<!DOCTYPE SHOW [<!ENTITY x SYSTEM \"file://" + file +
          "\">]><SHOW>&x;</SHOW>",
      "<!DOCTYPE SHOW [<!ENTITY % p SYSTEM \"" + file + "\"> %p;]><SHOW/>",
      "<!DOCTYPE SHOW SYSTEM \"" + file + "\"><SHOW/>",
      "<!DOCTYPE SHOW><SHOW/>",
  };
  const long rssBefore = maxRssKiB();
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 60));
    const auto start = std::chrono::steady_clock::now();
    const std::string message = parseError(text);
    EXPECT_EQ(message.rfind("document type declaration not accepted", 0), 0u)
        << message;
    EXPECT_EQ(message.find("SECRET"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(1));
  }
  EXPECT_LT(maxRssKiB() - rssBefore, 64 * 1024);
  std::remove(path);
}

TEST(DOMBuilderParse, MillionDeepNestingParsesWalksAndFrees) {
  constexpr int kDepth = 1000000;
  std::string open, close;
  for (int i = 0; i < kDepth; ++i) open += "<a>";
  for (int i = 0; i < kDepth; ++i) close += "</a>";

  NodeRef document = parse(open + "x" + close);
  int depth = 0;
  Node* node = document->getFirstChild();
  for (; node != nullptr && node->getNodeType() == Node::ELEMENT_NODE;
       node = node->getFirstChild()) {
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->getNodeValue(), "x");
  document.reset();

  EXPECT_EQ(parseError(open), "no element found at line 1, column 3000001");
}

TEST(DOMBuilderParse, LargeTokensParseInLinearTime) {
  const std::string big(16 << 20, 'v');
  const std::string cases[] = {
      "<A v='" + big + "'/>",
      "<A>" + big + "</A>",
      "<A><!--" + big + "--></A>",
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 8));
    for (bool seekable : {true, false}) {
      const auto start = std::chrono::steady_clock::now();
      NodeRef document = parse(text, seekable);
      EXPECT_LT(std::chrono::steady_clock::now() - start,
                std::chrono::seconds(5));
      Node* a = document->getFirstChild();
      NamedNodeMap* map = a->getAttributes();
      const std::string value = map->getLength() == 1
                                    ? map->item(0)->getValue()
                                    : a->getFirstChild()->getNodeValue();
      map->release();
      EXPECT_EQ(value, big);
    }
  }
}

}  // namespace
