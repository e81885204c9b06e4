#include "mediator/ReplyClassifier.h"

#include <utility>

namespace ZUB_DEVICE_MEDIATION {

namespace {
const char kPromptStart[] = "HVB";
const char kErrorStart[] = "Error:";
}  // namespace

std::string ReplyClassifier::checkError(const std::string& text) {
  const size_t start = text.find(kErrorStart);
  if (start == std::string::npos) return std::string();
  size_t end = text.find(kPromptStart);
  if (end == std::string::npos || end < start) end = text.size();
  return text.substr(start, end - start);
}

void ReplyClassifier::store(std::string& reply, CLIResponse& response) {
  size_t prompt = reply.find(kPromptStart);
  if (prompt == std::string::npos) prompt = reply.size();
  const bool tagged = reply.find('<') != std::string::npos;
  if (tagged && prompt == 0) {
    response.setRspContext(reply);
    return;
  }
  response.setRspContext(reply.substr(prompt));
  std::string error;
  if (tagged) {
    reply.resize(prompt);
    error = checkError(reply);
    if (error.empty()) {
      // Only the tagged output is kept; an echoed command before it is not.
      const size_t start = reply.find('<');
      reply.erase(0, start == std::string::npos ? reply.size() : start);
    }
  } else {
    error = checkError(reply);
    reply.resize(prompt);
  }
  if (error.empty()) {
    response.addElement(std::move(reply));
  } else {
    response.addError(error);
  }
}

}  // namespace ZUB_DEVICE_MEDIATION
