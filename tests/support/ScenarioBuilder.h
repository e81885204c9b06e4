#ifndef ZUBDM_TESTS_SUPPORT_SCENARIOBUILDER_H
#define ZUBDM_TESTS_SUPPORT_SCENARIOBUILDER_H

#include <string>

// Builds a simulator scenario (JSON) with canned replies given as exact bytes.
class ScenarioBuilder {
 public:
  // `command` (plain printable ASCII) answered with exactly `bytes` (no
  // prompt added when `raw`). `extra` is added verbatim to the reply's JSON
  // object, e.g. R"("delay_ms": 500)".
  ScenarioBuilder& reply(const std::string& command, const std::string& bytes,
                         bool raw = true, const std::string& extra = "") {
    static const char digits[] = "0123456789abcdef";
    std::string entry = commands_.empty() ? "\"" : ", \"";
    for (char c : command) entry += (c == '"' || c == '\\' ? "\\" : "") + std::string(1, c);
    entry += "\": {\"reply_hex\": \"";
    for (unsigned char byte : bytes) entry += {digits[byte >> 4], digits[byte & 15]};
    commands_ += entry + "\", \"raw\": " + (raw ? "true" : "false") +
                 (extra.empty() ? "" : ", " + extra) + "}";
    return *this;
  }
  std::string json() const { return "{\"commands\": {" + commands_ + "}}"; }

 private:
  std::string commands_;
};

#endif  // ZUBDM_TESTS_SUPPORT_SCENARIOBUILDER_H
