#include <zubdm/result/CLIResult.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <new>
#include <string_view>
#include <utility>

#include <zubdm/common/CliLogHelper.h>
#include <zubdm/host/TextKeeper.h>
#include <zubdm/result/ShowParser.h>
#include <zubdm/result/ZubTokenParser.h>

namespace ZUB_DEVICE_MEDIATION {

namespace {

bool isNameByte(char byte) {
  return std::isalnum(static_cast<unsigned char>(byte)) ||
         std::string_view("_-.:").find(byte) != std::string_view::npos;
}

// The first `key` in `field` that is not part of a longer name: "id" is not
// the one in valid="no" or idx="5".
std::string::size_type findKey(const std::string& field, const std::string& key) {
  for (auto at = field.find(key); at != std::string::npos; at = field.find(key, at + 1)) {
    const size_t end = at + key.size();
    const bool longerBefore = at > 0 && isNameByte(field[at - 1]);
    const bool longerAfter =
        !key.empty() && isNameByte(key.back()) && end < field.size() && isNameByte(field[end]);
    if (!longerBefore && !longerAfter) return at;
  }
  return std::string::npos;
}

}  // namespace

CLIResult::CLIResult()
    : state_(OpStatusEnum::Failed) {}

CLIResult::~CLIResult() { keepLentMessages(); }

void CLIResult::keepLentMessages() noexcept {
  for (const Lent& lent : lent_) {
    // Spliced, the message stays where it is in memory: the document's view
    // of it holds.
    if (lent.keeper->shared()) {
      lent.keeper->kept().splice(lent.keeper->kept().end(), messageList_, lent.message);
    }
    lent.keeper->release();
  }
  lent_.clear();
}

void CLIResult::adoptDocument(zubdm::internal::ShowParser& parser, QOR_error& error) {
  // Keepers no document holds any more are dropped first.
  auto unused = std::remove_if(lent_.begin(), lent_.end(), [](const Lent& lent) {
    if (lent.keeper->shared()) return false;
    lent.keeper->release();
    return true;
  });
  lent_.erase(unused, lent_.end());
  // Room for the entry before the document can hold the keeper: once it
  // does, the entry must be recorded.
  lent_.reserve(lent_.size() + 1);
  zubdm::internal::TextKeeper* keeper = zubdm::internal::TextKeeper::create();
  if (keeper == nullptr) throw std::bad_alloc();
  if (messageList_.empty()) {
    xmlResult_.adopt(parser, error, keeper, std::string(), 0);
  } else {
    const std::string& output = messageList_.back();
    xmlResult_.adopt(parser, error, keeper, output,
                     zubdm::internal::ShowParser::documentStart(output));
  }
  if (keeper->shared()) {
    lent_.push_back(Lent{std::prev(messageList_.end()), keeper});
  } else {
    keeper->release();
  }
}

void CLIResult::setFailureKind(FailureKind kind) {
  failure_ = FailureRecord();
  failure_.kind = kind;
}

void CLIResult::addError(const std::string& text) {
  errorList_.push_back(text);
}

void CLIResult::appendMessageList(const std::vector<std::string>& lines) {
  messageList_.insert(messageList_.end(), lines.begin(), lines.end());
}

void CLIResult::appendMessageList(std::vector<std::string>&& lines) {
  messageList_.insert(messageList_.end(),
                      std::make_move_iterator(lines.begin()),
                      std::make_move_iterator(lines.end()));
}

void CLIResult::appendMessageList(const std::list<std::string>& lines) {
  // Copied: moving out of a list passed as a constant would change a list
  // the caller may have defined const.
  if (&lines == &messageList_) return;
  messageList_.insert(messageList_.end(), lines.begin(), lines.end());
}

void CLIResult::appendMessageList(std::list<std::string>&& lines) {
  // Splicing a list into itself is undefined; moving all of its own entries
  // to its end would leave it as it is anyway.
  if (&lines == &messageList_) return;
  messageList_.splice(messageList_.end(), lines);
}

void CLIResult::setState(const OpStatusEnum& state) { state_ = state; }

void CLIResult::addXMLResult(const std::string& text) {
  xmlResult_.add_cli_output(text);
}

void CLIResult::addXMLResult(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) addXMLResult(line);
}

void CLIResult::clearAll() {
  keepLentMessages();
  errorList_.clear();
  messageList_.clear();
  state_ = OpStatusEnum::Failed;
  failure_ = FailureRecord();
  prompt_.clear();
}

CliDomTree& CLIResult::getXMLResult() { return xmlResult_; }

const OpStatusEnum& CLIResult::getCurrentExecState() const { return state_; }

OpStatusEnum& CLIResult::getState() {
  // A command that ran, and a failure that left no error entry (output
  // that is plain text rather than a show document), both read as success.
  if (state_.equals(OpStatusEnum::PartialSuccess) ||
      (state_.equals(OpStatusEnum::Failed) && errorList_.empty())) {
    state_ = OpStatusEnum::Success;
  }
  return state_;
}

const std::vector<std::string>& CLIResult::getErrorList() const {
  return errorList_;
}

const std::list<std::string>& CLIResult::getMessageList() const {
  CliLogHelper(4, "CLIResult", __func__, __LINE__)
      .message("CLIResult::getMessageList()");
  return messageList_;
}

std::string CLIResult::toString() const {
  std::string out = "OpStatus :";
  out += state_.toString();
  out += "\nMessage list: ";
  for (const std::string& message : messageList_) {
    out += message;
    out += "\n\t";
  }
  out += "\nError messages:";
  for (const std::string& error : errorList_) {
    out += error;
    out += "\n\t";
  }
  return out;
}

void CLIResult::toPrettyPrint(std::vector<std::string>& out) const {
  out.push_back("OpStatus :" + state_.toString());
  out.push_back("Message list: ");
  out.insert(out.end(), messageList_.begin(), messageList_.end());
  out.push_back("Error messages:");
  out.insert(out.end(), errorList_.begin(), errorList_.end());
}

int CLIResult::getXMLValues(std::vector<std::string>& values,
                            const std::string& marker, const std::string& key,
                            const std::string& delimiters) const {
  int count = 0;
  for (const std::string& message : messageList_) {
    ZubTokenParser fields(message, "<>");
    while (fields.hasMoreTokens()) {
      const std::string field = fields.nextField();
      if (field.find(marker) == std::string::npos) continue;
      const std::string::size_type keyPos = findKey(field, key);
      if (keyPos == std::string::npos) continue;
      // Skip the one character after the key (normally '='). A key that
      // ends the field has no value to offer.
      const std::string::size_type valuePos = keyPos + key.size() + 1;
      if (valuePos > field.size()) continue;
      ZubTokenParser valueFields(field.substr(valuePos), delimiters);
      values.push_back(valueFields.nextField());
      ++count;
    }
  }
  return count;
}

}  // namespace ZUB_DEVICE_MEDIATION
