#include "mediator/ReplyClassifier.h"

#include "common/LargeBuffer.h"

namespace ZUB_DEVICE_MEDIATION {

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

// A string holding `text`; a large one is advised to be backed by huge pages
// before it is filled.
std::string copyOut(std::string_view text) {
  std::string copy;
  QOR::reserveForAppend(copy, text.size());
  copy.append(text.data(), text.size());
  return copy;
}

}  // namespace

std::string ReplyClassifier::checkError(const std::string& text) {
  return std::string(errorIn(text));
}

void ReplyClassifier::store(std::string_view reply, CLIResponse& response) {
  const size_t prompt = reply.find(kPromptStart);
  store(reply, prompt == std::string_view::npos ? reply.size() : prompt, response);
}

void ReplyClassifier::store(std::string_view reply, size_t prompt,
                            CLIResponse& response) {
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
    response.addElement(copyOut(output));
  } else {
    response.addError(std::string(error));
  }
}

}  // namespace ZUB_DEVICE_MEDIATION
