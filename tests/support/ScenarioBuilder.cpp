#include "support/ScenarioBuilder.h"

namespace {

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char byte : bytes) {
    out += digits[byte >> 4];
    out += digits[byte & 15];
  }
  return out;
}

// Command texts in the tests are plain printable ASCII.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

ScenarioBuilder& ScenarioBuilder::reply(const std::string& command,
                                        const std::string& bytes, bool raw,
                                        const std::string& extra) {
  std::string entry = quoted(command) + ": {\"reply_hex\": \"" + hex(bytes) +
                      "\", \"raw\": " + (raw ? "true" : "false");
  if (!extra.empty()) entry += ", " + extra;
  commands_.push_back(entry + "}");
  return *this;
}

ScenarioBuilder& ScenarioBuilder::set(const std::string& key,
                                      const std::string& jsonValue) {
  settings_.push_back(quoted(key) + ": " + jsonValue);
  return *this;
}

std::string ScenarioBuilder::json() const {
  std::string out = "{";
  for (const std::string& setting : settings_) out += setting + ", ";
  out += "\"commands\": {";
  for (size_t i = 0; i < commands_.size(); ++i) {
    if (i > 0) out += ", ";
    out += commands_[i];
  }
  return out + "}}";
}
