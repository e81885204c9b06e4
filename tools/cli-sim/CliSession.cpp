#include "CliSession.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <iterator>

#include "PipeIo.h"
#include "ShowDocument.h"
#include "Transcript.h"

namespace {

// How long after its reply a scenario's late bytes come.
const unsigned kLateMs = 20;

const std::size_t kMaxInterfaces = 1024;
const std::size_t kMaxNameBytes = 64;
const std::size_t kMaxDescriptionBytes = 1024;
const std::size_t kMaxQuotedBytes = 256;
const std::size_t kRepeatBlockBytes = std::size_t{64} << 10;
// An interface name that looks like a prompt where it starts a line.
const char kPromptLikeName[] = "HVB-x#1";

// What "?" lists: the words a mode takes first, and what follows a word.
struct HelpEntry {
  const char* word;
  const char* text;
};
const HelpEntry kEnd = {"end", "End current mode and change to enable mode"};
const HelpEntry kExit = {"exit", "Exit current mode and down to previous mode"};
const HelpEntry kShow = {"show", "Show running system information"};
const std::vector<HelpEntry> kFirstWords[] = {
    {{"configure", "Configuration from vty interface"}, kEnd, kExit, kShow},
    {{"controller", "Select a controller to configure"}, kEnd, kExit,
     {"hostname", "Set system's network name"}, {"interface", "Select an interface to configure"},
     kShow},
    {{"description", "Interface specific description"}, kEnd, kExit,
     {"no", "Negate a command or set its defaults"}, kShow,
     {"shutdown", "Shutdown the selected interface"}},
    {kEnd, kExit, kShow},
};
const HelpEntry kNextWords[] = {
    {"configure", "terminal  Configuration terminal"},
    {"controller", "NAME  Controller name"},
    {"description", "LINE  Characters describing this interface"},
    {"hostname", "WORD  This system's network name"},
    {"interface", "IFNAME  Interface's name"},
    {"no", "description  Interface specific description"},
    {"show", "interfaces  Interface status and configuration"},
};

void sleepMs(unsigned ms) {
  struct timespec pause = {static_cast<time_t>(ms / 1000),
                           static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) == -1 && errno == EINTR) {
  }
}

// The library ends each line with "\n\r": the "\r" arrives first on the
// next line. Login lines end in "\r\n" instead.
std::string stripCr(const std::string& line) {
  std::size_t begin = !line.empty() && line.front() == '\r' ? 1 : 0;
  std::size_t end = line.size();
  if (end > begin && line[end - 1] == '\r') --end;
  return line.substr(begin, end - begin);
}

// "12 show version" -> "show version": the command number and one blank.
std::string stripNumber(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  if (i == 0 || i == line.size() || line[i] != ' ') return line;
  return line.substr(i + 1);
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

// Everything after the first word and the blanks behind it.
std::string afterFirstWord(const std::string& text) {
  std::size_t i = text.find_first_not_of(" \t");
  i = text.find_first_of(" \t", i);
  i = text.find_first_not_of(" \t", i);
  return i == std::string::npos ? std::string() : text.substr(i);
}

// The library takes the first "HVB" it reads for the prompt, so text that
// came from the user must not carry one into the output.
std::string withoutPromptText(std::string text) {
  for (std::size_t at = text.find("HVB"); at != std::string::npos;
       at = text.find("HVB", at + 3)) {
    text[at + 2] = 'b';
  }
  return text;
}

// User text in a "% " error line, as the real shell shows it: shortened,
// control bytes as ".", but any "HVB" left as typed.
std::string shown(const std::string& text) {
  std::string out = text.substr(0, kMaxQuotedBytes);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '.';
  }
  return text.size() > kMaxQuotedBytes ? out + "..." : out;
}

// User text quoted in a message: shortened, control bytes shown as ".".
std::string quote(const std::string& text) {
  return withoutPromptText(shown(text));
}

bool isWords(const std::vector<std::string>& words,
             std::initializer_list<const char*> expected) {
  if (words.size() != expected.size()) return false;
  std::size_t i = 0;
  for (const char* word : expected) {
    if (words[i++] != word) return false;
  }
  return true;
}

bool validName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  for (char c : name) {
    if (c <= ' ' || c >= 0x7f) return false;
  }
  return true;
}

bool validHostname(const std::string& name) {
  if (name.empty() || name.size() > 63) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// Decimal digits, optionally followed by K or M (binary multiples), at most
// `max`.
bool parseAmount(const std::string& text, std::uint64_t max, bool suffixes,
                 std::uint64_t& value) {
  std::size_t digits = 0;
  std::uint64_t number = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    number = number * 10 + static_cast<std::uint64_t>(text[digits] - '0');
    if (number > max) return false;
    ++digits;
  }
  if (digits == 0) return false;
  const std::string suffix = text.substr(digits);
  std::uint64_t unit = 1;
  if (suffixes && (suffix == "K" || suffix == "k")) {
    unit = 1024;
  } else if (suffixes && (suffix == "M" || suffix == "m")) {
    unit = std::uint64_t{1} << 20;
  } else if (!suffix.empty()) {
    return false;
  }
  if (number > max / unit) return false;
  value = number * unit;
  return true;
}

}  // namespace

CliSession::CliSession(const Scenario& scenario, PipeIo& io,
                       Transcript& transcript)
    : scenario_(scenario), io_(io), transcript_(transcript) {
  interfaces_["A"];
  interfaces_["B"];
  interfaces_["C"];
  if (scenario_.promptLikeNames) interfaces_[kPromptLikeName];
  io_.setTypedEcho(scenario_.typedAheadEcho);
}

int CliSession::run() {
  if (scenario_.loginDelayMs > 0) sleepMs(scenario_.loginDelayMs);
  if (scenario_.fault == StartFault::kExitAtLogin) {
    if (io_.put("Login:")) io_.flush();
    return 1;
  }
  if (scenario_.fault == StartFault::kNeverPrompt) {
    io_.drainInput();
    return 0;
  }
  if (!login()) return exitStatus_;
  if (!writePrompt()) {
    writeFailed();
    return exitStatus_;
  }
  if (scenario_.fault == StartFault::kExitAfterLogin) return 1;

  std::string line;
  for (;;) {
    switch (io_.readLine(line)) {
      case PipeIo::ReadResult::kEnd:
        return 0;
      case PipeIo::ReadResult::kTooLong:
        transcript_.record("TOOLONG");
        if (!error("Line too long") || !writePrompt()) {
          writeFailed();
          return exitStatus_;
        }
        break;
      case PipeIo::ReadResult::kLine:
        if (!serve(stripCr(line))) return exitStatus_;
        break;
    }
  }
}

bool CliSession::login() {
  std::string line;
  for (;;) {
    if (!io_.put("Login:") || !io_.flush()) return writeFailed();
    PipeIo::ReadResult result = io_.readLine(line);
    if (result == PipeIo::ReadResult::kEnd) return false;
    const bool userLine = result == PipeIo::ReadResult::kLine;
    const std::string user = userLine ? stripCr(line) : std::string();
    transcript_.record(userLine ? "LOGIN " + user : "LOGIN TOOLONG");

    if (!io_.put("Password:") || !io_.flush()) return writeFailed();
    result = io_.readLine(line);
    if (result == PipeIo::ReadResult::kEnd) return false;
    if (userLine && result == PipeIo::ReadResult::kLine && user == "root" &&
        stripCr(line) == "tquvz") {
      return true;
    }
    if (!io_.put("\r\nLogin incorrect\r\n")) return writeFailed();
  }
}

bool CliSession::serve(const std::string& received) {
  transcript_.record(received);
  // What the shell is typed (the number is not: it only tags the line), and
  // the part of it not echoed yet.
  std::string typed = stripNumber(received);
  std::string tail = typed;
  if (scenario_.helpKey && !answerHelp(typed, tail)) return writeFailed();
  io_.markTyped();
  const std::string& command = typed;
  const ReplySpec* spec = scenario_.find(command, nextExchange_);
  if (spec && spec->fault == ReplyFault::kExit) {
    exitStatus_ = 1;
    return false;
  }
  if (scenario_.echo && !io_.put(withoutPromptText(received) + "\r\n")) {
    return writeFailed();
  }
  if (scenario_.terminalEcho && !io_.put(tail + "\r\n")) return writeFailed();
  if (spec) return cannedReply(*spec);
  const bool answered = scenario_.strict ? error("not in the recording: " + quote(command))
                                         : builtinReply(command);
  if (!answered || !writePrompt()) return writeFailed();
  return true;
}

bool CliSession::cannedReply(const ReplySpec& spec) {
  if (spec.delayMs > 0) sleepMs(spec.delayMs);
  if (scenario_.typedAheadEcho && !io_.echoTyped()) return writeFailed();
  io_.setWriteChunk(spec.writeChunk);
  const std::uint64_t size = spec.bytes.size();
  const std::uint64_t total = size == 0 ? 0
                              : spec.repeat > UINT64_MAX / size
                                  ? UINT64_MAX
                                  : size * spec.repeat;
  switch (spec.fault) {
    case ReplyFault::kDieMidReply:
      // As a crash would: no clean-up, the pipes close as the process ends.
      if (putRepeated(spec.bytes, total / 2)) io_.flush();
      _exit(1);
    case ReplyFault::kCloseOutput:
    case ReplyFault::kHang:
      if (putRepeated(spec.bytes, total / 2)) io_.flush();
      if (spec.fault == ReplyFault::kCloseOutput) io_.closeOutput();
      io_.drainInput();
      exitStatus_ = 0;
      return false;
    case ReplyFault::kEndless:
      // Only a failed write (or a signal) ends this.
      putRepeated(spec.bytes.empty() ? "x\r\n" : spec.bytes, UINT64_MAX);
      return writeFailed();
    case ReplyFault::kExit:
    case ReplyFault::kStopReading:
    case ReplyFault::kNone:
      break;
  }
  bool ok = putRepeated(spec.bytes, total);
  if (spec.thenMode) mode_ = *spec.thenMode;
  if (ok) ok = spec.raw ? io_.flush() : writePrompt();
  io_.setWriteChunk(0);
  if (ok && !spec.late.empty()) {
    sleepMs(kLateMs);
    ok = io_.put(spec.late) && io_.flush();
  }
  if (ok && spec.fault == ReplyFault::kStopReading) {
    // Alive, but never reads its input again: only a signal ends this.
    for (;;) pause();
  }
  return ok || writeFailed();
}

bool CliSession::builtinReply(const std::string& command) {
  const std::vector<std::string> words = splitWords(command);
  if (words.empty()) return true;
  if (words[0] == "show") return showReply(words, command);
  if (isWords(words, {"end"})) {
    mode_ = Mode::kRoot;
    return true;
  }
  if (isWords(words, {"exit"})) {
    mode_ = parentOf(mode_);
    return true;
  }
  switch (mode_) {
    case Mode::kRoot:
      if (isWords(words, {"configure", "terminal"}) ||
          isWords(words, {"config"}) || isWords(words, {"c"})) {
        mode_ = Mode::kConfig;
        return true;
      }
      break;
    case Mode::kConfig:
      if (words.size() == 2 && configCommand(words)) return true;
      break;
    case Mode::kConfigIf:
      return interfaceCommand(words, command);
    case Mode::kConfigController:
      break;
  }
  return invalid(command);
}

bool CliSession::configCommand(const std::vector<std::string>& words) {
  const std::string& name = words[1];
  if (words[0] == "interface" && validName(name)) {
    if (interfaces_.count(name) == 0) {
      if (interfaces_.size() >= kMaxInterfaces) {
        return error("Interface table full");
      }
      interfaces_[name];
    }
    currentInterface_ = name;
    mode_ = Mode::kConfigIf;
    return true;
  }
  if (words[0] == "controller" && validName(name)) {
    mode_ = Mode::kConfigController;
    return true;
  }
  if (words[0] == "hostname" && validHostname(name)) {
    hostname_ = name;
    return true;
  }
  return false;
}

bool CliSession::interfaceCommand(const std::vector<std::string>& words,
                                  const std::string& command) {
  auto it = interfaces_.find(currentInterface_);
  if (it == interfaces_.end()) return invalid(command);
  InterfaceState& state = it->second;
  if (isWords(words, {"shutdown"})) {
    state.adminUp = false;
  } else if (isWords(words, {"no", "shutdown"})) {
    state.adminUp = true;
  } else if (isWords(words, {"no", "description"})) {
    state.description.clear();
  } else if (words[0] == "description" && words.size() >= 2) {
    const std::string text = afterFirstWord(command);
    if (text.size() > kMaxDescriptionBytes) {
      return error("Description too long");
    }
    state.description = text;
  } else {
    return invalid(command);
  }
  return true;
}

bool CliSession::showReply(const std::vector<std::string>& words,
                           const std::string& command) {
  const ShowDocument::Sink sink = [this](const char* data, std::size_t size) {
    return io_.put(data, size);
  };
  std::uint64_t amount = 0;
  if (isWords(words, {"show", "version"})) {
    return io_.put(
        "Element CLI simulator\r\nSoftware version 1.0.0\r\n"
        "Hostname: " +
        quote(hostname_) +
        "\r\nInterfaces: " + std::to_string(interfaces_.size()) + "\r\n");
  }
  if (isWords(words, {"show", "interfaces"})) {
    return io_.put(ShowDocument::interfaces(interfaces_));
  }
  if (scenario_.promptLikeNames && isWords(words, {"show", "interface", "brief"})) {
    return interfaceBrief();
  }
  if (words.size() == 3 && words[1] == "objects" &&
      parseAmount(words[2], ShowDocument::kMaxObjects, false, amount)) {
    return ShowDocument::objects(amount, sink);
  }
  if (words.size() == 3 && words[1] == "bulk" &&
      parseAmount(words[2], ShowDocument::kMaxBulkBytes, true, amount)) {
    return ShowDocument::bulk(amount, sink);
  }
  if (words.size() == 3 && words[1] == "elements" &&
      parseAmount(words[2], ShowDocument::kMaxBulkBytes, true, amount)) {
    return ShowDocument::elements(amount, sink);
  }
  return invalid(command);
}

bool CliSession::invalid(const std::string& command) {
  if (!scenario_.percentErrors) return error("Invalid input detected: " + quote(command));
  // As the real shell: a known command short of its argument is incomplete.
  const std::vector<std::string> words = splitWords(command);
  const bool incomplete =
      words.size() == 1 && std::any_of(std::begin(kNextWords), std::end(kNextWords),
                                       [&](const HelpEntry& entry) { return words[0] == entry.word; });
  return error((incomplete ? "Command incomplete: " : "Unknown command: ") + shown(command));
}

bool CliSession::error(const std::string& message) {
  return io_.put((scenario_.percentErrors ? "% " : "Error: ") + message + "\r\n");
}

bool CliSession::answerHelp(std::string& typed, std::string& tail) {
  tail = typed;
  typed.clear();
  for (std::size_t mark = tail.find('?'); mark != std::string::npos; mark = tail.find('?')) {
    const std::string before = tail.substr(0, mark);
    typed += before;
    const std::string shownLine =
        (scenario_.terminalEcho ? before : "") + "\r\n" + helpFor(stripNumber(typed)) +
        promptFor(mode_) + scenario_.promptSuffix + typed;
    if (!io_.put(shownLine)) return false;
    tail.erase(0, mark + 1);
  }
  typed += tail;
  return true;
}

std::string CliSession::helpFor(const std::string& typed) const {
  const std::vector<std::string> words = splitWords(typed);
  const bool wordEnded = typed.empty() || typed.back() == ' ' || typed.back() == '\t';
  std::vector<std::pair<std::string, std::string>> lines;
  if (words.empty() || (words.size() == 1 && !wordEnded)) {
    for (const HelpEntry& entry : kFirstWords[static_cast<int>(mode_)]) {
      if (words.empty() || std::string(entry.word).rfind(words[0], 0) == 0) {
        lines.emplace_back(entry.word, entry.text);
      }
    }
  } else {
    for (const HelpEntry& entry : kNextWords) {
      if (words[0] == entry.word) {
        const std::string text = entry.text;
        const std::size_t gap = text.find("  ");
        lines.emplace_back(text.substr(0, gap), text.substr(gap + 2));
      }
    }
  }
  if (lines.empty()) return "% There is no matched command.\r\n";
  std::size_t width = 0;
  for (const auto& line : lines) width = std::max(width, line.first.size());
  std::string help;
  for (const auto& line : lines) {
    help += "  " + line.first + std::string(width - line.first.size() + 2, ' ') + line.second + "\r\n";
  }
  return help;
}

bool CliSession::interfaceBrief() {
  std::string table =
      "Interface       Status  VRF             Addresses\r\n"
      "---------       ------  ---             ---------\r\n";
  for (const auto& entry : interfaces_) {
    std::string name = entry.first;
    name.resize(std::max<std::size_t>(name.size(), 16), ' ');
    table += name + (entry.second.adminUp ? "up      " : "down    ") + "default         \r\n";
  }
  return io_.put(table + "\r\n");
}

bool CliSession::writePrompt() {
  if (scenario_.typedAheadEcho && !io_.echoTyped()) return false;
  return io_.put(promptFor(mode_) + scenario_.promptSuffix) && io_.flush();
}

bool CliSession::putRepeated(const std::string& bytes, std::uint64_t limit) {
  if (bytes.empty() || limit == 0) return true;
  // Doubling keeps the block a whole number of copies of `bytes`, so any
  // prefix of the stream of blocks is a prefix of the repeated reply.
  std::string block = bytes;
  while (block.size() < kRepeatBlockBytes) block += block;
  while (limit >= block.size()) {
    if (!io_.put(block)) return false;
    limit -= block.size();
  }
  return io_.put(block.data(), static_cast<std::size_t>(limit));
}

bool CliSession::writeFailed() {
  exitStatus_ = io_.writeError() == EPIPE ? 0 : 1;
  return false;
}
