#include "ResultPrinter.h"

#include <nlohmann/json.hpp>

namespace {

// The CLI ends its lines with CR LF; a terminal wants LF.
std::string withoutCarriageReturns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

// One line: line ends inside the text become blanks.
std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    out += c;
  }
  return out;
}

std::string trimmed(const std::string& text) {
  const size_t start = text.find_first_not_of(" \r\n\t");
  if (start == std::string::npos) return std::string();
  const size_t end = text.find_last_not_of(" \r\n\t");
  return text.substr(start, end - start + 1);
}

}  // namespace

CommandReport makeReport(const std::string& command, const std::string& mode,
                         ZUB_DEVICE_MEDIATION::CLIResult& result,
                         const std::string& storedState) {
  CommandReport report;
  report.command = command;
  report.mode = mode;
  report.storedState = storedState;
  report.state = result.getState().toString();
  const auto& messages = result.getMessageList();
  report.messages.assign(messages.begin(), messages.end());
  report.errors = result.getErrorList();
  return report;
}

void printText(const CommandReport& report, std::FILE* out) {
  std::fprintf(out, "[%s] %s\n", report.mode.c_str(), report.command.c_str());
  for (const std::string& message : report.messages) {
    const std::string text = withoutCarriageReturns(message);
    std::fputs(text.c_str(), out);
    if (!text.empty() && text.back() != '\n') std::fputc('\n', out);
  }
  for (const std::string& error : report.errors) {
    std::fprintf(out, "error: %s\n", trimmed(oneLine(error)).c_str());
  }
  if (report.findAsked) {
    std::fprintf(out, "found: %s\n", report.found ? report.foundValue.c_str() : "(nothing)");
  }
  if (report.valuesAsked) {
    std::fprintf(out, "values:");
    for (const std::string& value : report.values) std::fprintf(out, " %s", value.c_str());
    std::fprintf(out, "\n");
  }
  std::fprintf(out, "state: %s\n", report.state.c_str());
}

void printJson(const CommandReport& report, std::FILE* out) {
  nlohmann::json json = {
      {"command", report.command},   {"mode", report.mode},
      {"state", report.state},       {"stored_state", report.storedState},
      {"messages", report.messages}, {"errors", report.errors},
  };
  if (report.findAsked) {
    json["found"] = report.found ? nlohmann::json(report.foundValue) : nlohmann::json();
  }
  if (report.valuesAsked) json["values"] = report.values;
  // Device output may hold bytes that are not UTF-8: replace, never fail.
  const std::string line =
      json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fprintf(out, "%s\n", line.c_str());
}
