#include <zubdm/result/CliDomTree.h>

#include <cstring>
#include <string_view>

#include <zubdm/common/CliDialect.h>
#include <zubdm/common/QorErrHelper.h>
#include <zubdm/common/QorLogHelper.h>
#include <zubdm/host/DOMDocument.h>
#include <zubdm/result/ShowParser.h>

using TAV::XML::DOMDocument;
using TAV::XML::Node;
using zubdm::internal::ShowParser;

CliDomTree::CliDomTree() : document_(nullptr) {}

CliDomTree::~CliDomTree() {
  if (document_ != nullptr) document_->release();
}

void CliDomTree::add_cli_output(const std::string& text) { text_ += text; }

void CliDomTree::parse_cli(QOR_error& error) {
  parseOutput(text_, error);
  // The output is not kept for the next command, nor its memory.
  std::string().swap(text_);
}

void CliDomTree::parse_cli(const std::string& text, QOR_error& error) {
  if (!text_.empty()) {
    add_cli_output(text);
    parse_cli(error);
    return;
  }
  parseOutput(text, error);
}

void CliDomTree::parseOutput(const std::string& output, QOR_error& error) {
  // The document is read where it lies, in one piece: the parser stops at
  // its end.
  ShowParser parser;
  const std::size_t start = ShowParser::documentStart(output);
  parser.feed(output.data() + start, output.size() - start, true);
  adopt(parser, error);
}

void CliDomTree::adopt(ShowParser& parser, QOR_error& error) {
  adopt(parser, error, nullptr, std::string(), 0);
}

void CliDomTree::adopt(ShowParser& parser, QOR_error& error,
                       zubdm::internal::TextKeeper* keeper,
                       const std::string& output, std::size_t at) {
  const ShowParser::Outcome outcome = parser.finish();
  if (outcome == ShowParser::Outcome::Blank) {
    parser.abandon();
    return;
  }
  if (document_ != nullptr) document_->release();
  document_ = parser.takeDocument();
  const char* lost = nullptr;
  if (document_ != nullptr) {
    auto* document = static_cast<DOMDocument*>(document_);
    // The output must hold the document where it is said to: its length
    // from `at`, "<SHOW" at the start, "</SHOW>" at the end and the bytes
    // fed between (by their digest), so that a place never names other
    // bytes than those parsed.
    const std::uint64_t length = parser.length();
    const std::string_view end = zubdm::internal::dialect::kShowEnd;
    const bool holds = document->borrows() && at <= output.size() && length <= output.size() - at &&
                       length >= end.size() &&
                       output.compare(at, zubdm::internal::dialect::kShowStart.size(),
                                   zubdm::internal::dialect::kShowStart) == 0 &&
                       output.compare(at + length - end.size(), end.size(), end) == 0 &&
                       ShowParser::digestOf(std::string_view(output).substr(at, length)) ==
                           parser.digest();
    if (document->borrows() && !(holds && document->lendFrom(keeper, output, at))) {
      lost = "the stored output does not hold the parsed document";
      document_->release();
      document_ = nullptr;
    }
  }
  if (outcome == ShowParser::Outcome::Failed || lost != nullptr) {
    const zubdm::internal::DOMParseFailure& failure = parser.failure();
    QorErrHelper helper(QOR_XML_PARSE_ERROR, error, "CliDomTree", "parse_cli", __LINE__);
    if (lost != nullptr) {
      helper.message("%s", lost);
    } else if (failure.outOfMemory) {
      helper.message("%s", "out of memory");
    } else {
      helper.message("%s at line %lu, column %lu", failure.reason, failure.line,
                     failure.column);
    }
  }
  parser.abandon();
}

int CliDomTree::find_value(const char* objectId, const char* itemName,
                           const char* attributeName, std::string& value) {
  value.clear();
  if (document_ == nullptr) {
    QorLogHelper(3, "CliDomTree", __func__, __LINE__)
        .message("Nothing to parse ...");
    return 0;
  }
  // Every held document comes from a ShowParser. The walk is the one the
  // node interface gives (getNextSiblingNode, getXmlAttribute), on the
  // records.
  const auto& document = static_cast<const DOMDocument&>(*document_);
  const DOMDocument::Record show = document.firstRecord();
  if (show == DOMDocument::kNoRecord) {
    QorLogHelper(3, "CliDomTree", __func__, __LINE__)
        .message("Did not find <SHOW> Node");
    return 0;
  }
  DOMDocument::Record candidate = document.recordType(show) == Node::ELEMENT_NODE
                                      ? document.firstChildRecord(show)
                                      : DOMDocument::kNoRecord;
  if (candidate == DOMDocument::kNoRecord) {
    QorLogHelper(3, "CliDomTree", __func__, __LINE__)
        .message("Did not find <OBJ> Node");
    return 0;
  }
  if (objectId == nullptr || itemName == nullptr || attributeName == nullptr) {
    return 0;
  }

  const std::string_view id(objectId);
  const std::string_view item(itemName);
  const std::string_view attribute(attributeName);
  std::string_view found;
  for (; candidate != DOMDocument::kNoRecord;
       candidate = document.nextRecord(candidate)) {
    if (document.recordType(candidate) != Node::ELEMENT_NODE) continue;
    if (!document.recordAttribute(candidate, "id", found) || found != id) continue;
    DOMDocument::Record child = document.firstChildRecord(candidate);
    for (; child != DOMDocument::kNoRecord; child = document.nextRecord(child)) {
      if (document.recordType(child) == Node::ELEMENT_NODE &&
          document.recordName(child) == item &&
          document.recordAttribute(child, attribute, found)) {
        value.assign(found.data(), found.size());
        return 1;
      }
    }
  }
  return 0;
}

Node* CliDomTree::getNextSiblingNode(Node* node, unsigned short nodeType) {
  while (node != nullptr && node->getNodeType() != nodeType) {
    node = node->getNextSibling();
  }
  return node;
}

bool CliDomTree::getXmlAttribute(Node* node, const char* name,
                                 std::string& value) {
  if (node == nullptr || name == nullptr) return false;
  TAV::XML::NamedNodeMap* attributes = node->getAttributes();
  if (attributes == nullptr) return false;
  bool found = false;
  const unsigned int length = attributes->getLength();
  for (unsigned int i = 0; i < length; ++i) {
    TAV::XML::Attr* attribute = attributes->item(i);
    if (attribute != nullptr && attribute->getName() == name) {
      value = attribute->getValue();
      found = true;
      break;
    }
  }
  attributes->release();
  return found;
}
