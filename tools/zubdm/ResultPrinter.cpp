#include "ResultPrinter.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "VisibleText.h"

namespace {

// The output's lines, without "\r" and without the empty piece after a
// final line end.
std::vector<std::string> lines(const std::string& output) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    out.push_back(std::move(line));
    start = end + 1;
  }
  return out;
}

}  // namespace

bool ResultPrinter::print(const CommandReport& report) {
  const std::string bytes =
      format_ == Format::kRaw ? report.output : format_ == Format::kJson ? json(report) : text(report);
  if (!failed_ && std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) failed_ = true;
  if (!failed_ && (std::fflush(out_) != 0 || std::ferror(out_))) failed_ = true;
  return !failed_;
}

std::string ResultPrinter::text(const CommandReport& report) const {
  std::string out = "[" + report.mode + "] " + visibleText(report.command, false) + "\n";
  out += visibleText(report.output, true);
  if (!out.empty() && out.back() != '\n') out += '\n';
  if (report.failed) out += "error: " + visibleText(report.errorText, false) + "\n";
  if (report.findAsked) {
    out += "found: " + (report.found ? visibleText(report.foundValue, false) : "(nothing)") + "\n";
  }
  if (report.valuesAsked) {
    out += "values:";
    for (const std::string& value : report.values) out += " " + visibleText(value, false);
    out += "\n";
  }
  return out + "state: " + report.state + "\n";
}

std::string ResultPrinter::json(const CommandReport& report) const {
  nlohmann::json json = {
      {"command", report.command}, {"mode", report.mode},     {"state", report.state},
      {"output", lines(report.output)}, {"prompt", report.prompt},
      {"duration_ms", report.durationMs},
  };
  if (report.failed) json["error"] = {{"kind", report.errorKind}, {"text", report.errorText}};
  if (report.findAsked) {
    json["found"] = report.found ? nlohmann::json(report.foundValue) : nlohmann::json();
  }
  if (report.valuesAsked) json["values"] = report.values;
  // Device output may hold bytes that are not UTF-8: replace, never fail.
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
