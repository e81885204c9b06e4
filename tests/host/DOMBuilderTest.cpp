// The XML layer over libexpat: what hostile documents do.
#include <zubdm/host/DOMBuilder.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <zubdm/host/XmlDom.h>
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

}  // namespace

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
