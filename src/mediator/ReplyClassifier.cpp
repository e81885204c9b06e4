#include "mediator/ReplyClassifier.h"

#include <utility>

namespace zubdm {
namespace internal {

namespace {

const char kPromptStart[] = "HVB";
const char kErrorStart[] = "Error:";

std::string_view errorIn(std::string_view text) {
  const size_t start = text.find(kErrorStart);
  if (start == std::string_view::npos) return std::string_view();
  size_t end = text.find(kPromptStart);
  if (end == std::string_view::npos || end < start) end = text.size();
  return text.substr(start, end - start);
}

}  // namespace

std::string ReplyClassifier::checkError(std::string_view text) {
  return std::string(errorIn(text));
}

void ReplyClassifier::store(std::string&& reply, size_t prompt,
                            ZUB_DEVICE_MEDIATION::CLIResponse& response) {
  const std::string_view whole(reply);
  const bool tagged = whole.find('<') != std::string_view::npos;
  if (tagged && prompt == 0) {
    response.setRspContext(reply);
    return;
  }
  response.setRspContext(std::string(whole.substr(prompt)));
  std::string_view output = whole.substr(0, prompt);
  size_t outputStart = 0;
  std::string_view error;
  if (tagged) {
    error = errorIn(output);
    if (error.empty()) {
      // Only the tagged output is kept; an echoed command before it is not.
      const size_t start = output.find('<');
      outputStart = start == std::string_view::npos ? output.size() : start;
    }
  } else {
    error = errorIn(whole);
  }
  if (!error.empty()) {
    response.addError(std::string(error));
    return;
  }
  // The output is cut out of the reply where it lies.
  reply.resize(prompt);
  reply.erase(0, outputStart);
  response.addElement(std::move(reply));
}

}  // namespace internal
}  // namespace zubdm
