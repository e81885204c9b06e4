#include "mediator/ReplyClassifier.h"

#include "common/TextSearch.h"


namespace zubdm {
namespace internal {

namespace {

const char kPromptStart[] = "HVB";
const char kErrorStart[] = "Error:";

std::string_view errorIn(std::string_view text) {
  const size_t start = findText(text, kErrorStart);
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
  const bool tagged = reply.find('<') != std::string_view::npos;
  if (tagged && prompt == 0) {
    response.setRspContext(std::string(reply));
    return;
  }
  response.setRspContext(std::string(reply.substr(prompt)));
  std::string_view output = reply.substr(0, prompt);
  std::string_view error;
  if (tagged) {
    error = errorIn(output);
    if (error.empty()) {
      // Only the tagged output is kept; an echoed command before it is not.
      const size_t start = output.find('<');
      output.remove_prefix(start == std::string_view::npos ? output.size() : start);
    }
  } else {
    error = errorIn(reply);
  }
  if (error.empty()) {
    response.addElement(std::string(output));
  } else {
    response.addError(std::string(error));
  }
}

}  // namespace internal
}  // namespace zubdm
