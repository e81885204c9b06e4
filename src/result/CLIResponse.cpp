#include <zubdm/result/CLIResponse.h>

#include <utility>

namespace ZUB_DEVICE_MEDIATION {

CLIResponse::CLIResponse() : timeout_(false), responseEnd_(false) {}

void CLIResponse::setRspContext(const std::string& context) {
  rspContext_ = context;
}

const std::string& CLIResponse::getRspContext() const { return rspContext_; }

void CLIResponse::addError(const std::string& text) {
  if (error_.empty()) {
    error_ = text;
  } else {
    error_ += " ; ";
    error_ += text;
  }
}

const std::string& CLIResponse::getError() const { return error_; }

void CLIResponse::clearError() { error_.clear(); }

void CLIResponse::addElement(std::string& element) {
  responseList_.push_back(element);
}

void CLIResponse::addElement(std::string&& element) {
  responseList_.push_back(std::move(element));
}

const std::vector<std::string>& CLIResponse::getResponseList() const {
  return responseList_;
}

std::vector<std::string> CLIResponse::takeResponseList() {
  std::vector<std::string> list;
  list.swap(responseList_);
  return list;
}

bool CLIResponse::isRspListEmpty() const { return responseList_.empty(); }

void CLIResponse::setTimeout() { timeout_ = true; }

void CLIResponse::resetTimeout() { timeout_ = false; }

bool CLIResponse::isTimeout() const { return timeout_; }

void CLIResponse::setResponseEnd() { responseEnd_ = true; }

bool CLIResponse::isResponseEnd() const { return responseEnd_; }

void CLIResponse::clearAll() {
  responseList_.clear();
  rspContext_.clear();
  clearError();
  resetTimeout();
  responseEnd_ = false;
}

std::string& CLIResponse::toString(std::string& out) const {
  out = "Error=";
  out += error_;
  out += " Response context=";
  out += rspContext_;
  out += "isTimeout=";
  out += timeout_ ? "true" : "false";
  out += " ResponseList=";
  for (const std::string& element : responseList_) {
    out += " -";
    out += element;
  }
  return out;
}

}  // namespace ZUB_DEVICE_MEDIATION
