#ifndef ZUBDM_TESTS_SUPPORT_DOMTEXT_H
#define ZUBDM_TESTS_SUPPORT_DOMTEXT_H

#include <string>
#include <vector>

#include <zubdm/host/XmlDom.h>

// A tree written back as markup through the node interface alone (no
// escaping, attributes in document order, "<!--...-->" for comments), walked
// without recursion so that deep trees do.
inline std::string domText(TAV::XML::Node* document) {
  using TAV::XML::Node;
  std::string out;
  struct Step {
    Node* node;
    bool close;  // write the end tag of `node`
  };
  std::vector<Step> steps;
  if (Node* first = document->getFirstChild()) steps.push_back({first, false});
  while (!steps.empty()) {
    const Step step = steps.back();
    steps.pop_back();
    Node* node = step.node;
    if (step.close) {
      out += "</" + node->getNodeName() + ">";
      continue;
    }
    if (Node* next = node->getNextSibling()) steps.push_back({next, false});
    switch (node->getNodeType()) {
      case Node::ELEMENT_NODE: {
        out += "<" + node->getNodeName();
        if (TAV::XML::NamedNodeMap* attributes = node->getAttributes()) {
          for (unsigned int i = 0; i < attributes->getLength(); ++i) {
            TAV::XML::Attr* attribute = attributes->item(i);
            out += " " + attribute->getName() + "=\"" + attribute->getValue() + "\"";
          }
          attributes->release();
        }
        out += ">";
        steps.push_back({node, true});
        if (Node* child = node->getFirstChild()) steps.push_back({child, false});
        break;
      }
      case Node::COMMENT_NODE:
        out += "<!--" + node->getNodeValue() + "-->";
        break;
      default:
        out += node->getNodeValue();
    }
  }
  return out;
}

#endif  // ZUBDM_TESTS_SUPPORT_DOMTEXT_H
