#ifndef ZUBDM_RESULT_CLIDOMTREE_H
#define ZUBDM_RESULT_CLIDOMTREE_H

#include <zubdm/ZubdmExport.h>

#include <string>

#include <zubdm/common/QOR_error.h>
#include <zubdm/host/XmlDom.h>

namespace zubdm {
namespace internal {
class ShowParser;
class TextKeeper;
}  // namespace internal
}  // namespace zubdm

// Collects the output of one command, cuts out the show document that runs
// from "<SHOW" to "</SHOW>", parses it and answers single-value lookups:
// the value of a named attribute of a named item inside the object with a
// given id.
//
// Owns one reference to the last parsed document, which holds all it points
// into. Not copyable; used by one thread at a time.
class ZUBDM_EXPORT CliDomTree {
 public:
  CliDomTree();
  ~CliDomTree();
  CliDomTree(const CliDomTree&) = delete;
  CliDomTree& operator=(const CliDomTree&) = delete;

  // Appends `text` to the collected output, with no separator.
  void add_cli_output(const std::string& text);

  // Cuts the collected output to its show document and parses it, replacing
  // the held document. Output of blanks, tabs and line ends only is not
  // parsed (the earlier document stays). A parse failure drops the document
  // and appends one entry with code 23 and the parser's message to `error`.
  // The collected output is emptied on every call.
  void parse_cli(QOR_error& error);
  // The same as add_cli_output(text) followed by parse_cli(error), without
  // collecting `text` when no output is collected. The document goes to the
  // parser in one piece, which the parser copies while it parses; output
  // fed to a ShowParser as it arrives (adopt()) costs no copy.
  void parse_cli(const std::string& text, QOR_error& error);

  // Takes the document of `parser`, finishing the parse first when it is
  // not finished, as parse_cli does: a document replaces the held one; a
  // failure drops the held document and appends one entry with code 23 and
  // the parser's message to `error`; blank output leaves the held document.
  // The parser is then as new. The collected output is not touched. For
  // the library's reply reader: not exported.
  // A document that borrows from its output fails here.
  ZUBDM_LOCAL void adopt(zubdm::internal::ShowParser& parser, QOR_error& error);
  // The same, for a parser that borrowed from what it was fed: the document
  // reads from `output`, which must hold the bytes fed from `at` on, and
  // holds `keeper`, which keeps `output` alive and unchanged. Output that
  // does not hold the document there fails the parse.
  ZUBDM_LOCAL void adopt(zubdm::internal::ShowParser& parser, QOR_error& error,
                         zubdm::internal::TextKeeper* keeper,
                         const std::string& output, std::size_t at);

  // 1 and the value in `value` when the object with id `objectId` has an item
  // element named `itemName` carrying the attribute `attributeName`;
  // otherwise 0 with `value` empty. Null arguments find nothing. Objects are
  // the elements among the children of the document's first node, searched
  // in document order; the first match wins. Makes no nodes.
  int find_value(const char* objectId, const char* itemName,
                 const char* attributeName, std::string& value);

  // The first node of type `nodeType` from `node` on along next-sibling
  // links; null when there is none or `node` is null.
  TAV::XML::Node* getNextSiblingNode(TAV::XML::Node* node,
                                     unsigned short nodeType);

  // True and the value in `value` when `node` has the attribute `name`
  // (exact, case-sensitive); otherwise false with `value` untouched.
  bool getXmlAttribute(TAV::XML::Node* node, const char* name,
                       std::string& value);

  // The collected, not yet parsed output.
  const std::string& pending_output() const { return text_; }

 private:
  // Cuts `output` to its show document and parses it (parse_cli).
  void parseOutput(const std::string& output, QOR_error& error);

  TAV::XML::Node* document_;
  std::string text_;
};

#endif  // ZUBDM_RESULT_CLIDOMTREE_H
