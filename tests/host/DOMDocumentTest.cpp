#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include "host/DOMDocument.h"
#include "host/XmlDom.h"

namespace {

using TAV::XML::CInputSource;
using TAV::XML::DOMBuilder;
using TAV::XML::NamedNodeMap;
using TAV::XML::Node;

Node* parse(const std::string& text) {
  std::istringstream stream(text);
  CInputSource source(&stream);
  return DOMBuilder(nullptr).parseDOMInputSource(&source);
}

size_t heapInUse() { return mallinfo2().uordblks; }

// Address space of the process: large documents map their own blocks.
size_t mappedBytes() {
  size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kHeapCounted = false;
#else
constexpr bool kHeapCounted = true;
#endif

TEST(DOMDocumentAttributes, MapListsAttributesInOrderAndBoundsIndexes) {
  Node* document = parse("<E b='2' a='' c='&amp;x'><F/>t</E>");
  Node* element = document->getFirstChild();

  NamedNodeMap* map = element->getAttributes();
  ASSERT_EQ(map->getLength(), 3u);
  const char* expected[][2] = {{"b", "2"}, {"a", ""}, {"c", "&x"}};
  for (unsigned i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(map->item(i)->getNodeType(), Node::ATTRIBUTE_NODE);
    EXPECT_EQ(map->item(i)->getName(), expected[i][0]);
    EXPECT_EQ(map->item(i)->getValue(), expected[i][1]);
  }
  for (unsigned index : {3u, 4u, UINT_MAX}) {
    EXPECT_EQ(map->item(index), nullptr);
  }
  map->release();

  NamedNodeMap* empty = element->getFirstChild()->getAttributes();
  EXPECT_EQ(empty->getLength(), 0u);
  EXPECT_EQ(empty->item(0), nullptr);
  empty->release();
  EXPECT_EQ(element->getFirstChild()->getNextSibling()->getAttributes(),
            nullptr);
  document->release();
}

TEST(DOMDocumentLifetime, ReleasingTheDocumentFreesTheWholeTree) {
  if (!kHeapCounted) GTEST_SKIP() << "heap statistics hidden by sanitizer";
  std::string text = "<SHOW>";
  for (int i = 0; i < 50000; ++i) {  // a tree larger than a huge page
    text += "<OBJ id='" + std::to_string(i) +
            "'><ITEM name='a-long-attribute-value-" + std::to_string(i) +
            "'/></OBJ>\n";
  }
  text += "</SHOW>";
  parse(text)->release();  // warms up allocator caches
  const size_t heapBefore = heapInUse();
  const size_t mappedBefore = mappedBytes();
  for (int round = 0; round < 10; ++round) parse(text)->release();
  EXPECT_LT(heapInUse(), heapBefore + 64 * 1024);
  EXPECT_LT(mappedBytes(), mappedBefore + 4 * 1024 * 1024);
}

TEST(DOMDocumentLifetime, AttributeMapKeepsReleasedDocumentAlive) {
  Node* document = parse("<SHOW><OBJ id='kept-alive-by-map'/></SHOW>");
  NamedNodeMap* map =
      document->getFirstChild()->getFirstChild()->getAttributes();
  const size_t held = heapInUse();
  document->release();
  if (kHeapCounted) {
    EXPECT_GE(heapInUse(), held);
  }
  EXPECT_EQ(map->item(0)->getValue(), "kept-alive-by-map");
  map->release();
  if (kHeapCounted) {
    EXPECT_LT(heapInUse(), held);
  }
}

}  // namespace
