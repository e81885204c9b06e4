// The XML layer fed in pieces: where pieces end changes nothing.
#include <zubdm/host/DOMPieceParser.h>

#include <zubdm/host/DOMDocument.h>
#include <zubdm/host/NamedNodeMap.h>
#include <zubdm/host/TextKeeper.h>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "support/DomText.h"
#include "support/ProcessState.h"

namespace {

using TAV::XML::Node;
using zubdm::internal::DOMPieceParser;

// The tree as domText writes it, or the failure's text.
std::string parsed(DOMPieceParser& parser) {
  Node* document = parser.finish();
  if (document == nullptr) return "failed: " + parser.failure().text();
  const std::string text = domText(document);
  document->release();
  return text;
}

std::string inPieces(const std::vector<std::string>& pieces) {
  DOMPieceParser parser;
  for (const std::string& piece : pieces) parser.feed(piece.data(), piece.size());
  return parsed(parser);
}

}  // namespace

TEST(DOMPieceParserFeed, PiecesEndingAnywhereGiveWhatOnePieceGives) {
  struct Row {
    const char* name;                 // where a piece ends
    std::vector<std::string> pieces;  // fed one by one, then finish()
    const char* result;               // domText, or "failed: " and the text
  } rows[] = {
      {"between CR and LF", {"<a/>\r", "\n<b/>"}, "failed: junk after document element at line 2, column 1"},
      {"inside a name after the root", {"<a/>00", "00\""},
       "failed: not well-formed (invalid token) at line 1, column 9"},
      {"inside a character", {"<a>\xC3", "\xA9</a>"}, "<a>\xC3\xA9</a>"},
      {"after the first byte, of UTF-16", {"\t", std::string("\0<\0a\0/\0>\0", 9)}, "<a></a>"},
      {"inside an attribute value", {"<a x=\"1", "2\"/>"}, "<a x=\"12\"></a>"},
      {"inside a comment that never ends", {"<a><!-- x", " y"}, "failed: unclosed token at line 1, column 4"},
      {"inside a document type declaration", {"<!DOC", "TYPE a><a/>"},
       "failed: document type declaration not accepted at line 1, column 12"},
      {"nowhere: no input", {}, "failed: no element found at line 1, column 1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string whole;
    for (const std::string& piece : row.pieces) whole += piece;
    EXPECT_EQ(inPieces(row.pieces), row.result);
    EXPECT_EQ(inPieces({whole}), row.result);
    DOMPieceParser last;
    last.feed(whole.data(), whole.size(), true);
    EXPECT_EQ(parsed(last), row.result);
  }
}

TEST(DOMPieceParserFeed, LongTokensInSmallPiecesTakeLinearTime) {
  const std::string value(std::size_t{4} << 20, 'v');
  std::string comment;
  while (comment.size() < value.size()) comment += "> - ";
  struct Row {
    const char* token;
    std::string document;
    std::string tree;
  } rows[] = {
      {"attribute value", "<a x=\"" + value + "\"/>", "<a x=\"" + value + "\"></a>"},
      {"comment with places to stop", "<a><!--" + comment + "--></a>", "<a><!--" + comment + "--></a>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.token);
    const auto start = std::chrono::steady_clock::now();
    DOMPieceParser parser;
    for (std::size_t at = 0; at < row.document.size(); at += 512) {
      parser.feed(row.document.data() + at, std::min<std::size_t>(512, row.document.size() - at));
    }
    EXPECT_EQ(parsed(parser), row.tree);
    // Read again from its start each time, the token would take minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
}

TEST(DOMPieceParserAbandon, FreesThePartialTreeAndParsesAfreshAfterwards) {
  std::string document = "<r>";
  while (document.size() < (std::size_t{1} << 20)) document += "<e v=\"0123456789\"/>";
  document += "</r>";
  DOMPieceParser parser;
  const std::size_t before = ProcessState::heapInUse();
  parser.feed(document.data(), document.size() / 2);
  parser.abandon();
  // The allocator may keep a little for itself; the half tree is 400 KiB.
  EXPECT_LE(ProcessState::heapInUse(), before + 64 * 1024);
  parser.feed("<x/>", 4);
  EXPECT_EQ(parsed(parser), "<x></x>");
}

TEST(DOMPieceParserMemory, RunningOutFailsTheParseAndThrowsNothing) {
  if (ProcessState::sanitized()) GTEST_SKIP() << "no address-space limit under a sanitizer";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child may grow by 64 MiB; the tree needs more.
    long size = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.compare(0, 7, "VmSize:") == 0) size = std::stol(line.substr(7));
    }
    const rlimit limit{static_cast<rlim_t>(size + 64 * 1024) * 1024,
                       static_cast<rlim_t>(size + 64 * 1024) * 1024};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
    std::string piece;
    while (piece.size() < (std::size_t{64} << 10)) piece += "<e v=\"0123456789abcdef\"/>";
    DOMPieceParser parser;
    bool fed = parser.feed("<r>", 3);
    for (int i = 0; fed && i < 8192; ++i) fed = parser.feed(piece.data(), piece.size());
    _exit(!fed && parser.failure().outOfMemory && parser.failure().text() == "out of memory" &&
                  parser.finish() == nullptr
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A borrowed value is read from the lent text, which the document keeps
// through its keeper: an attribute map taken from the document outlives
// both the lender's reference and the document's own.
TEST(DOMPieceParserBorrow, UnchangedValuesAreBorrowedAndOutliveTheirLender) {
  const std::string xml =
      "<SHOW><OBJ id=\"a value long enough to be borrowed\" "
      "coded=\"a &lt; b &amp; c, long enough to be borrowed\">"
      "a text run long enough to be borrowed</OBJ></SHOW>";
  DOMPieceParser parser;
  parser.borrowValues(true);
  for (size_t at = 0; at < xml.size(); at += 5) {
    ASSERT_TRUE(parser.feed(xml.data() + at, std::min<size_t>(5, xml.size() - at)));
  }
  auto* document = static_cast<TAV::XML::DOMDocument*>(parser.finish());
  ASSERT_NE(document, nullptr);
  ASSERT_TRUE(document->borrows());
  EXPECT_EQ(document->borrowedEnd(), xml.find("</OBJ>"));

  auto* keeper = zubdm::internal::TextKeeper::create();
  ASSERT_NE(keeper, nullptr);
  keeper->kept().push_back(xml);
  EXPECT_FALSE(document->lendFrom(keeper, std::string("<SHOW>"), 0));  // too short
  ASSERT_TRUE(document->lendFrom(keeper, keeper->kept().front(), 0));
  keeper->release();

  Node* object = document->getFirstChild()->getFirstChild();
  TAV::XML::NamedNodeMap* attributes = object->getAttributes();
  ASSERT_NE(attributes, nullptr);
  const std::string text = object->getFirstChild()->getNodeValue();
  document->release();
  ASSERT_EQ(attributes->getLength(), 2u);
  EXPECT_EQ(attributes->item(0)->getValue(), "a value long enough to be borrowed");
  EXPECT_EQ(attributes->item(1)->getValue(), "a < b & c, long enough to be borrowed");
  EXPECT_EQ(text, "a text run long enough to be borrowed");
  attributes->release();
}
