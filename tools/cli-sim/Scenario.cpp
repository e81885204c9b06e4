#include "Scenario.h"

#include "NameTable.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

using nlohmann::json;

const std::uint64_t kMaxDelayMs = 3600000;

bool readFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return !in.bad();
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Pairs of hex digits; blanks between the pairs are allowed for readability.
bool decodeHex(const std::string& hex, std::string& bytes) {
  bytes.clear();
  int high = -1;
  for (char c : hex) {
    if (c == ' ' && high < 0) continue;
    const int digit = hexDigit(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  return high < 0;
}

bool getUnsigned(const json& value, std::uint64_t max, std::uint64_t& out) {
  if (!value.is_number_unsigned()) return false;
  out = value.get<std::uint64_t>();
  return out <= max;
}

bool parseStartFault(const std::string& name, StartFault& fault) {
  static const std::pair<const char*, StartFault> kFaults[] = {
      {"exit_at_once", StartFault::kExitAtOnce},
      {"exit_at_login", StartFault::kExitAtLogin},
      {"never_prompt", StartFault::kNeverPrompt},
      {"exit_after_login", StartFault::kExitAfterLogin},
  };
  return valueOfName(name, kFaults, fault);
}

bool parseReplyFault(const std::string& name, ReplyFault& fault) {
  static const std::pair<const char*, ReplyFault> kFaults[] = {
      {"die_mid_reply", ReplyFault::kDieMidReply},
      {"close_output", ReplyFault::kCloseOutput},
      {"hang", ReplyFault::kHang},
      {"endless", ReplyFault::kEndless},
      {"exit", ReplyFault::kExit},
      {"stop_reading", ReplyFault::kStopReading},
  };
  return valueOfName(name, kFaults, fault);
}

bool parseReply(const json& object, ReplySpec& spec, std::string& error) {
  if (!object.is_object()) {
    error = "reply spec is not an object";
    return false;
  }
  if (object.contains("reply") && object.contains("reply_hex")) {
    error = "both \"reply\" and \"reply_hex\"";
    return false;
  }
  for (const auto& item : object.items()) {
    const std::string& key = item.key();
    const json& value = item.value();
    std::uint64_t number = 0;
    bool ok = true;
    if (key == "reply") {
      ok = value.is_string();
      if (ok) spec.bytes = value.get<std::string>();
    } else if (key == "reply_hex") {
      ok = value.is_string() && decodeHex(value.get<std::string>(), spec.bytes);
    } else if (key == "late") {
      ok = value.is_string();
      if (ok) spec.late = value.get<std::string>();
    } else if (key == "raw") {
      ok = value.is_boolean();
      if (ok) spec.raw = value.get<bool>();
    } else if (key == "repeat") {
      ok = getUnsigned(value, UINT64_MAX, spec.repeat);
    } else if (key == "delay_ms") {
      ok = getUnsigned(value, kMaxDelayMs, number);
      spec.delayMs = static_cast<unsigned>(number);
    } else if (key == "write_chunk") {
      ok = getUnsigned(value, SIZE_MAX, number);
      spec.writeChunk = static_cast<std::size_t>(number);
    } else if (key == "fault") {
      ok = value.is_string() &&
           parseReplyFault(value.get<std::string>(), spec.fault);
    } else if (key == "then_mode") {
      Mode mode = Mode::kRoot;
      ok = value.is_string() && modeFromName(value.get<std::string>(), mode);
      if (ok) spec.thenMode = mode;
    } else {
      error = "unknown key \"" + key + "\"";
      return false;
    }
    if (!ok) {
      error = "bad value for \"" + key + "\"";
      return false;
    }
  }
  return true;
}

bool parseCommands(const json& commands, Scenario& loaded,
                   std::string& reason) {
  for (const auto& command : commands.items()) {
    ReplySpec spec;
    if (!parseReply(command.value(), spec, reason)) {
      reason.insert(0, "command \"" + command.key() + "\": ");
      return false;
    }
    loaded.commands[command.key()] = spec;
  }
  return true;
}

// Each exchange is a reply spec with its "command".
bool parseExchanges(const json& list, Scenario& loaded, std::string& reason) {
  for (const json& item : list) {
    Exchange exchange;
    json spec = item;
    if (!item.is_object() || !item.contains("command") ||
        !item["command"].is_string()) {
      reason = "exchange " + std::to_string(loaded.exchanges.size()) +
               ": no \"command\" text";
      return false;
    }
    exchange.command = item["command"].get<std::string>();
    spec.erase("command");
    if (!parseReply(spec, exchange.reply, reason)) {
      reason.insert(0, "exchange \"" + exchange.command + "\": ");
      return false;
    }
    loaded.exchanges.push_back(std::move(exchange));
  }
  return true;
}

// The member set by the on/off key `key` of a real shell's ways, or null.
bool Scenario::*flagNamed(const std::string& key) {
  static const std::pair<const char*, bool Scenario::*> kFlags[] = {
      {"terminal_echo", &Scenario::terminalEcho},
      {"typed_ahead_echo", &Scenario::typedAheadEcho},
      {"help_key", &Scenario::helpKey},
      {"percent_errors", &Scenario::percentErrors},
      {"prompt_like_names", &Scenario::promptLikeNames},
  };
  for (const auto& entry : kFlags) {
    if (key == entry.first) return entry.second;
  }
  return nullptr;
}

bool parseScenario(const json& root, Scenario& loaded, std::string& reason) {
  for (const auto& item : root.items()) {
    const std::string& key = item.key();
    const json& value = item.value();
    std::uint64_t number = 0;
    bool ok = true;
    if (key == "fault") {
      ok = value.is_string() &&
           parseStartFault(value.get<std::string>(), loaded.fault);
    } else if (key == "echo") {
      ok = value.is_boolean();
      if (ok) loaded.echo = value.get<bool>();
    } else if (bool Scenario::*flag = flagNamed(key)) {
      ok = value.is_boolean();
      if (ok) loaded.*flag = value.get<bool>();
    } else if (key == "prompt_suffix") {
      ok = value.is_string();
      if (ok) loaded.promptSuffix = value.get<std::string>();
    } else if (key == "login_delay_ms") {
      ok = getUnsigned(value, kMaxDelayMs, number);
      loaded.loginDelayMs = static_cast<unsigned>(number);
    } else if (key == "transcript") {
      ok = value.is_string();
      if (ok) loaded.transcriptPath = value.get<std::string>();
    } else if (key == "commands") {
      ok = value.is_object();
      if (ok && !parseCommands(value, loaded, reason)) return false;
    } else if (key == "exchanges") {
      ok = value.is_array();
      if (ok && !parseExchanges(value, loaded, reason)) return false;
    } else {
      reason = "unknown key \"" + key + "\"";
      return false;
    }
    if (!ok) {
      reason = "bad value for \"" + key + "\"";
      return false;
    }
  }
  if (loaded.echo && loaded.terminalEcho) {
    reason = "both \"echo\" and \"terminal_echo\"";
    return false;
  }
  return true;
}

}  // namespace

bool Scenario::load(const std::string& path, std::string& error) {
  std::string text;
  std::string reason;
  Scenario loaded;
  if (!readFile(path, text)) {
    reason = "cannot be read";
  } else {
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
      reason = "is not a JSON object";
    } else if (parseScenario(root, loaded, reason)) {
      *this = std::move(loaded);
      return true;
    }
  }
  error = "scenario ";
  error += path;
  error += ": ";
  error += reason;
  return false;
}

const ReplySpec* Scenario::find(const std::string& command,
                                std::size_t& next) const {
  if (next < exchanges.size() && exchanges[next].command == command) {
    return &exchanges[next++].reply;
  }
  auto it = commands.find(command);
  return it == commands.end() ? nullptr : &it->second;
}
