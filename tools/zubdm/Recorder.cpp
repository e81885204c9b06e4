#include "Recorder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include <zubdm/common/CliDialect.h>

namespace {

using Direction = ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction;

// The length of the number before a command ("12 show version"); 0 for a
// mode line.
size_t numberLength(const std::string& line) {
  size_t digits = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
  return digits > 0 && digits < line.size() && line[digits] == ' ' ? digits + 1 : 0;
}

bool isNumbered(const std::string& line) { return numberLength(line) > 0; }

// The prompt that ends `reply` (its last line, blanks after it allowed),
// or nothing when its last line is no prompt.
std::string_view endingPrompt(std::string_view reply) {
  namespace dialect = zubdm::internal::dialect;
  const size_t last = reply.find_last_not_of(" \t");
  if (last == std::string_view::npos) return {};
  reply = reply.substr(0, last + 1);
  const size_t lineEnd = reply.find_last_of("\r\n");
  const std::string_view line = reply.substr(lineEnd == std::string_view::npos ? 0 : lineEnd + 1);
  return dialect::promptLength(line) == line.size() ? line : std::string_view();
}

// "12 show version\n\r" -> "show version", as the simulator matches it.
std::string commandOf(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line.erase(0, numberLength(line));
}

// The simulator's name for the mode that the reply's prompt shows ("HVB#"
// root, "HVB(config-if)#" config-if); empty for a prompt it does not know.
std::string modeOf(const std::string& reply) {
  static const char* const kModes[] = {"config-controller", "config-if", "config"};
  const std::string_view prompt = endingPrompt(reply);
  if (prompt == zubdm::internal::dialect::kRootPrompt) return "root";
  for (const char* mode : kModes) {
    if (prompt == "HVB(" + std::string(mode) + ")#") return mode;
  }
  return std::string();
}

nlohmann::json exchangeJson(const std::string& command, const std::string& reply) {
  nlohmann::json spec = {{"command", command}, {"raw", true}};
  try {
    spec["reply"] = reply;
    spec.dump();
  } catch (const nlohmann::json::exception&) {
    // Not UTF-8: as hex pairs, which the simulator reads back exactly.
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : reply) hex += {kHex[c >> 4], kHex[c & 15]};
    spec.erase("reply");
    spec["reply_hex"] = hex;
  }
  const std::string mode = modeOf(reply);
  if (!mode.empty()) spec["then_mode"] = mode;
  return spec;
}

}  // namespace

void Recorder::add(Direction direction, std::string_view bytes) {
  if (!recording_) return;
  if (direction == Direction::ToCli) {
    if (exchanges_.empty() || replyStarted_) exchanges_.push_back({});
    replyStarted_ = false;
    exchanges_.back().line.append(bytes);
  } else if (!exchanges_.empty()) {
    replyStarted_ = true;
    exchanges_.back().reply.append(bytes);
  }
}

void Recorder::stop() {
  recording_ = false;
  // A command cut short before the prompt that ends its reply is left out
  // whole: its line and the mode lines written for it.
  if (!exchanges_.empty() && endingPrompt(exchanges_.back().reply).empty()) {
    exchanges_.pop_back();
    while (!exchanges_.empty() && !isNumbered(exchanges_.back().line)) exchanges_.pop_back();
  }
  // The next line written starts an exchange of its own.
  replyStarted_ = true;
}

// Checks that the file can be written (an existing file, or a new one in
// its directory) without touching it.
bool Recorder::recordTo(const std::string& path, std::string& error) {
  const size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat status;
  const bool exists = stat(path.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) {
    errno = EISDIR;
  } else if (exists ? access(path.c_str(), W_OK) == 0
                    : access(directory.c_str(), W_OK | X_OK) == 0) {
    path_ = path;
    return true;
  }
  error = "--record " + path + ": cannot be written: " + std::strerror(errno);
  return false;
}

bool Recorder::write(std::string& error) const {
  nlohmann::json list = nlohmann::json::array();
  for (const Exchange& exchange : exchanges_) {
    list.push_back(exchangeJson(masks_.apply(commandOf(exchange.line)), masks_.apply(exchange.reply)));
  }
  const nlohmann::json scenario = {{"exchanges", list}};
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out << scenario.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  out.close();
  if (!out) error = "--record " + path_ + ": cannot be written: " + std::strerror(errno);
  return static_cast<bool>(out);
}
