#ifndef ZUBDM_TESTS_SUPPORT_SCENARIOBUILDER_H
#define ZUBDM_TESTS_SUPPORT_SCENARIOBUILDER_H

#include <string>
#include <vector>

// Builds a simulator scenario (JSON) with canned replies given as exact bytes.
class ScenarioBuilder {
 public:
  // `command` answered with exactly `bytes` (no prompt added when `raw`).
  // `extra` is added verbatim to the reply's JSON object, e.g.
  // R"("delay_ms": 500)".
  ScenarioBuilder& reply(const std::string& command, const std::string& bytes,
                         bool raw = true, const std::string& extra = "");
  // A top-level key and its JSON value, e.g. ("prompt_suffix", "\" \"").
  ScenarioBuilder& set(const std::string& key, const std::string& jsonValue);
  std::string json() const;

 private:
  std::vector<std::string> commands_;
  std::vector<std::string> settings_;
};

#endif  // ZUBDM_TESTS_SUPPORT_SCENARIOBUILDER_H
