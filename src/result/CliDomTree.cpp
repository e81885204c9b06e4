#include <zubdm/result/CliDomTree.h>

#include <string_view>

#include <zubdm/common/CliDialect.h>
#include <zubdm/common/QorErrHelper.h>
#include <zubdm/common/QorLogHelper.h>

using TAV::XML::Node;

namespace {

const char kBlanks[] = " \t\n\r";

}  // namespace

CliDomTree::CliDomTree() : document_(nullptr) {}

CliDomTree::~CliDomTree() {
  if (document_ != nullptr) document_->release();
}

void CliDomTree::add_cli_output(const std::string& text) { text_ += text; }

void CliDomTree::parse_cli(QOR_error& error) {
  parseOutput(text_.data(), text_.data() + text_.size(), error);
  // The output is not kept for the next command, nor its memory.
  std::string().swap(text_);
}

void CliDomTree::parse_cli(const std::string& text, QOR_error& error) {
  if (!text_.empty()) {
    add_cli_output(text);
    parse_cli(error);
    return;
  }
  parseOutput(text.data(), text.data() + text.size(), error);
}

void CliDomTree::parseOutput(const char* begin, const char* end,
                             QOR_error& error) {
  // The document runs from the first "<SHOW" that starts a line to the end
  // of the first "</SHOW>" after it (or the end); without one, the whole
  // output. It is not cut out but read where it lies.
  const std::string_view output(begin, static_cast<size_t>(end - begin));
  const zubdm::internal::dialect::Span found = zubdm::internal::dialect::showDocument(output);
  const std::string_view document =
      found.begin == std::string_view::npos ? output : output.substr(found.begin, found.end - found.begin);
  if (document.find_first_not_of(kBlanks) == std::string_view::npos) return;

  TAV::XML::CInputSource source(document.data(), document.size());
  TAV::XML::DOMBuilder builder(nullptr);
  if (document_ != nullptr) {
    document_->release();
    document_ = nullptr;
  }
  try {
    document_ = builder.parseDOMInputSource(&source);
  } catch (const TAV::XML::CXMLException& e) {
    QorErrHelper(QOR_XML_PARSE_ERROR, error, "CliDomTree", "parse_cli", __LINE__)
        .message("%s", e.GetMsg().c_str());
  }
}

int CliDomTree::find_value(const char* objectId, const char* itemName,
                           const char* attributeName, std::string& value) {
  value.clear();
  if (document_ == nullptr) {
    QorLogHelper(3, "CliDomTree", __func__, __LINE__)
        .message("Nothing to parse ...");
    return 0;
  }
  Node* document = getNextSiblingNode(document_, Node::DOCUMENT_NODE);
  if (document == nullptr) {
    QorLogHelper(3, "CliDomTree", __func__, __LINE__)
        .message("Did not find DOCUMENT Node");
    return 0;
  }
  Node* show = document->getFirstChild();
  if (show == nullptr) {
    QorLogHelper(3, "CliDomTree", __func__, __LINE__)
        .message("Did not find <SHOW> Node");
    return 0;
  }
  Node* candidate = show->getFirstChild();
  if (candidate == nullptr) {
    QorLogHelper(3, "CliDomTree", __func__, __LINE__)
        .message("Did not find <OBJ> Node");
    return 0;
  }
  if (objectId == nullptr || itemName == nullptr || attributeName == nullptr) {
    return 0;
  }

  std::string id;
  while (candidate != nullptr) {
    Node* object = getNextSiblingNode(candidate, Node::ELEMENT_NODE);
    if (object == nullptr) return 0;
    if (getXmlAttribute(object, "id", id) && id == objectId) {
      for (Node* item =
               getNextSiblingNode(object->getFirstChild(), Node::ELEMENT_NODE);
           item != nullptr; item = getNextSiblingNode(item->getNextSibling(),
                                                      Node::ELEMENT_NODE)) {
        if (item->getNodeName() == itemName &&
            getXmlAttribute(item, attributeName, value)) {
          return 1;
        }
      }
    }
    candidate = object->getNextSibling();
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
