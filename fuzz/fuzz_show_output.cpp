// Show output of any bytes, collected in pieces: parsed and searched, and
// its values extracted (which splits it with ZubTokenParser). Its document
// fed to a ShowParser cut at every offset, and in pieces of every size, gives
// what one piece gives; a parse abandoned part way leaves nothing behind
// (AddressSanitizer's leak check); find_value, which walks the records, finds
// what a walk through the node interface finds.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include <zubdm/common/QOR_error.h>
#include <zubdm/host/DOMDocument.h>
#include <zubdm/host/TextKeeper.h>
#include <zubdm/host/XmlDom.h>
#include <zubdm/result/CLIResult.h>
#include <zubdm/result/CliDomTree.h>
#include <zubdm/result/ShowParser.h>

namespace {

using TAV::XML::Node;
using zubdm::internal::ShowParser;

// Documents up to this size are cut at every offset and fed in pieces of
// every size; longer ones at a spread of offsets and sizes.
constexpr size_t kEveryWay = 256;

// The tree as text, walked through the node interface without recursion.
std::string dump(Node* document) {
  std::string out;
  // A node to write, or (null) the end of a child list.
  std::vector<Node*> stack;
  if (Node* first = document->getFirstChild()) stack.push_back(first);
  while (!stack.empty()) {
    Node* node = stack.back();
    stack.pop_back();
    if (node == nullptr) {
      out += ")";
      continue;
    }
    fuzzCheck(node->getNextSibling() == node->getNextSibling() &&
                  node->getFirstChild() == node->getFirstChild(),
              "a node reached twice is the same node");
    out += std::to_string(node->getNodeType()) + node->getNodeName() + "=" +
           node->getNodeValue();
    if (TAV::XML::NamedNodeMap* attributes = node->getAttributes()) {
      for (unsigned int i = 0; i < attributes->getLength(); ++i) {
        out += " " + attributes->item(i)->getName() + "=" + attributes->item(i)->getValue();
      }
      fuzzCheck(attributes->item(attributes->getLength()) == nullptr, "no item past the end");
      attributes->release();
    }
    out += "(";
    if (Node* next = node->getNextSibling()) stack.push_back(next);
    stack.push_back(nullptr);
    if (Node* child = node->getFirstChild()) stack.push_back(child);
  }
  return out;
}

// What a parse gave: the outcome, the tree or the failure as text, and how
// many bytes it took.
struct Parsed {
  ShowParser::Outcome outcome;
  std::string text;
  size_t taken;
  bool operator==(const Parsed& other) const {
    return outcome == other.outcome && text == other.text && taken == other.taken;
  }
};

Parsed finished(ShowParser& parser, size_t taken) {
  Parsed parsed{parser.finish(), "", taken};
  if (parsed.outcome == ShowParser::Outcome::Failed) parsed.text = parser.failure().text();
  if (Node* document = parser.takeDocument()) {
    parsed.text = dump(document);
    document->release();
  }
  return parsed;
}

// `document` fed in pieces ending at each of `cuts` and then at its end,
// the last one flagged as last or not.
Parsed inPieces(ShowParser& parser, const std::string& document, const std::vector<size_t>& cuts,
                bool lastFlagged) {
  size_t taken = 0;
  size_t from = 0;
  for (size_t cut : cuts) {
    taken += parser.feed(document.data() + from, cut - from);
    from = cut;
  }
  taken += parser.feed(document.data() + from, document.size() - from, lastFlagged);
  return finished(parser, taken);
}

std::vector<size_t> everyStep(size_t size, size_t step) {
  std::vector<size_t> cuts;
  for (size_t cut = step; cut < size; cut += step) cuts.push_back(cut);
  return cuts;
}

// The first search of CliDomTree, through the node interface.
int findThroughNodes(CliDomTree& tree, Node* document, const std::string& id,
                     const std::string& item, const std::string& attribute, std::string& value) {
  value.clear();
  Node* show = document->getFirstChild();
  for (Node* candidate = show ? show->getFirstChild() : nullptr; candidate != nullptr;) {
    Node* object = tree.getNextSiblingNode(candidate, Node::ELEMENT_NODE);
    if (object == nullptr) return 0;
    std::string objectId;
    if (tree.getXmlAttribute(object, "id", objectId) && objectId == id.c_str()) {
      for (Node* child = tree.getNextSiblingNode(object->getFirstChild(), Node::ELEMENT_NODE);
           child != nullptr;
           child = tree.getNextSiblingNode(child->getNextSibling(), Node::ELEMENT_NODE)) {
        if (child->getNodeName() == item.c_str() &&
            tree.getXmlAttribute(child, attribute.c_str(), value)) {
          return 1;
        }
      }
    }
    candidate = object->getNextSibling();
  }
  return 0;
}

void checkPiecewise(const std::string& output, FuzzedDataProvider& input,
                    const std::string& id, const std::string& item,
                    const std::string& attribute) {
  const std::string document = output.substr(ShowParser::documentStart(output));
  ShowParser parser;
  const Parsed whole = inPieces(parser, document, {}, true);
  parser.abandon();

  std::vector<size_t> offsets, sizes;
  if (document.size() <= kEveryWay) {
    for (size_t i = 1; i < document.size(); ++i) offsets.push_back(i), sizes.push_back(i);
  } else {
    for (size_t i = 1; i < 32; ++i) offsets.push_back(document.size() * i / 32);
    sizes = {1, 2, 3, 5, 6, 7, 8, 13, 64, 1000};
  }
  for (size_t offset : offsets) {
    fuzzCheck(inPieces(parser, document, {offset}, offset % 2 == 0) == whole,
              "a document cut in two gives what one piece gives");
    parser.abandon();
  }
  for (size_t size : sizes) {
    fuzzCheck(inPieces(parser, document, everyStep(document.size(), size), size % 2 == 1) == whole,
              "a document fed in pieces of one size gives what one piece gives");
    parser.abandon();
  }

  // A parse abandoned part way, with its document left untaken or not,
  // frees everything; the parser is then as new.
  const size_t cut = input.ConsumeIntegralInRange<size_t>(0, document.size());
  parser.feed(document.data(), cut);
  if (input.ConsumeBool()) parser.finish();
  parser.abandon();
  fuzzCheck(inPieces(parser, document, {}, true) == whole,
            "an abandoned parser parses as a new one");
  parser.abandon();

  // Borrowing values from the bytes fed, and reading them from a copy of
  // those bytes lent afterwards, gives the tree that copying gives; so does
  // find_value through a result whose message list was emptied.
  const size_t step = 1 + input.ConsumeIntegralInRange<size_t>(0, 64);
  ShowParser borrowing;
  borrowing.borrowValues(true);
  size_t fed = 0;
  for (size_t at = 0; at < document.size(); at += step) {
    fed += borrowing.feed(document.data() + at, std::min(step, document.size() - at));
  }
  if (borrowing.finish() == ShowParser::Outcome::Document) {
    auto* borrowed = static_cast<TAV::XML::DOMDocument*>(borrowing.takeDocument());
    auto* keeper = zubdm::internal::TextKeeper::create();
    keeper->kept().push_back(document.substr(0, fed));
    fuzzCheck(!borrowed->borrows() || borrowed->lendFrom(keeper, keeper->kept().front(), 0),
              "the bytes fed hold what the document borrowed");
    keeper->release();
    fuzzCheck(whole.outcome == ShowParser::Outcome::Document && dump(borrowed) == whole.text,
              "a document that borrows reads what one that copies holds");
    borrowed->release();
  }
  borrowing.abandon();
  ShowParser lent;
  lent.borrowValues(true);
  lent.feed(document.data(), document.size());
  // As the reply reader hands it over: from "<SHOW" to "</SHOW>".
  if (lent.ended() && document.compare(0, 5, "<SHOW") == 0) {
    ZUB_DEVICE_MEDIATION::CLIResult result;
    result.appendMessageList(std::vector<std::string>{document});
    QOR_error lentError;
    result.adoptDocument(lent, lentError);
    result.clearAll();
    CliDomTree copied;
    QOR_error copiedError;
    copied.parse_cli(document, copiedError);
    std::string lentValue, copiedValue;
    fuzzCheck(lentError.is_set() == copiedError.is_set() &&
                  result.getXMLResult().find_value(id.c_str(), item.c_str(), attribute.c_str(),
                                                   lentValue) ==
                      copied.find_value(id.c_str(), item.c_str(), attribute.c_str(), copiedValue) &&
                  lentValue == copiedValue,
              "find_value reads borrowed values after the message list is emptied");
  }

  CliDomTree tree;
  QOR_error error;
  tree.parse_cli(output, error);
  ShowParser again;
  again.feed(document.data(), document.size(), true);
  if (again.finish() != ShowParser::Outcome::Document) return;
  Node* parsed = again.takeDocument();
  std::string value, expected;
  fuzzCheck(tree.find_value(id.c_str(), item.c_str(), attribute.c_str(), value) ==
                    findThroughNodes(tree, parsed, id, item, attribute, expected) &&
                value == expected,
            "find_value on the records finds what the node interface finds");
  parsed->release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string id = input.ConsumeRandomLengthString(16);
  const std::string item = input.ConsumeRandomLengthString(16);
  const std::string attribute = input.ConsumeRandomLengthString(16);
  const std::string delimiters = input.ConsumeRandomLengthString(6);
  std::vector<std::string> pieces(input.ConsumeIntegralInRange<size_t>(0, 3));
  for (std::string& piece : pieces) piece = input.ConsumeRandomLengthString(input.remaining_bytes());
  pieces.push_back(input.ConsumeRemainingBytesAsString());

  CliDomTree tree;
  std::string output;
  for (const std::string& piece : pieces) {
    tree.add_cli_output(piece);
    output += piece;
  }
  QOR_error error;
  tree.parse_cli(error);
  fuzzCheck(tree.pending_output().empty() && error.entries.size() <= 1,
            "a parse empties the collected output and gives at most one error");
  std::string value = "stale";
  const int found = tree.find_value(id.c_str(), item.c_str(), attribute.c_str(), value);
  fuzzCheck((found == 1 && !error.is_set()) || (found == 0 && value.empty()),
            "found only in a parsed document; nothing found: 0 and an empty value");

  ZUB_DEVICE_MEDIATION::CLIResult result;
  result.appendMessageList(pieces);
  std::vector<std::string> values = {"kept"};
  const int count = result.getXMLValues(values, id, attribute, delimiters);
  fuzzCheck(count >= 0 && values.size() == 1 + static_cast<size_t>(count) && values.front() == "kept",
            "the values found are appended, and counted");
  for (size_t i = 1; i < values.size(); ++i) {
    fuzzCheck(values[i].find_first_of(delimiters + "<>") == std::string::npos,
              "a value holds no delimiter and stays inside one field");
  }

  // The pieces' own bytes decide where the abandoned parse stops.
  FuzzedDataProvider cuts(data, size);
  checkPiecewise(output, cuts, id, item, attribute);
  return 0;
}
