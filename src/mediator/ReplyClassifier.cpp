#include <zubdm/mediator/ReplyClassifier.h>

#include <zubdm/common/CliDialect.h>
#include <zubdm/common/TextSearch.h>

namespace zubdm {
namespace internal {

namespace {

using dialect::kErrorMarker;
using dialect::kPromptStart;
using dialect::kShowEnd;
using dialect::kShowStart;

// Where the first show document of `text` begins and ends (its end is the
// end of the text when it is cut short); both npos when there is none.
struct Document {
  size_t begin;
  size_t end;
};

Document documentIn(std::string_view text) {
  const size_t begin = findText(text, kShowStart);
  if (begin == std::string_view::npos) return {begin, begin};
  const size_t close = findText(text, kShowEnd, begin);
  return {begin, close == std::string_view::npos ? text.size()
                                                 : close + kShowEnd.size()};
}

// The first "Error:" of `text` outside its show document: text a user put
// into the document (an interface description, say) is data, not an error.
size_t errorStart(std::string_view text) {
  const Document document = documentIn(text);
  const size_t first = findText(text, kErrorMarker);
  if (first == std::string_view::npos || document.begin == std::string_view::npos ||
      first < document.begin) {
    return first;
  }
  return findText(text, kErrorMarker, document.end);
}

std::string_view errorIn(std::string_view text) {
  const size_t start = errorStart(text);
  if (start == std::string_view::npos) return std::string_view();
  size_t end = findText(text, kPromptStart);
  if (end == std::string_view::npos || end < start) end = text.size();
  return text.substr(start, end - start);
}

}  // namespace

std::string ReplyClassifier::checkError(std::string_view text) {
  return std::string(errorIn(text));
}

void ReplyClassifier::store(std::string_view reply, size_t prompt,
                            ZUB_DEVICE_MEDIATION::CLIResponse& response) {
  response.setRspContext(std::string(reply.substr(prompt)));
  std::string_view output = reply.substr(0, prompt);
  const std::string_view error = errorIn(output);
  if (!error.empty()) {
    response.addError(std::string(error));
    return;
  }
  // Show output is kept from its document on, so that an echoed command
  // before it is not; other output is kept whole.
  const size_t document = findText(output, kShowStart);
  if (document != std::string_view::npos) output.remove_prefix(document);
  response.addElement(std::string(output));
}

}  // namespace internal
}  // namespace zubdm
