#include "ResultPrinter.h"

#include <algorithm>

#include "VisibleText.h"

namespace {

void addString(std::string& out, std::string_view value) {
  out += '"';
  appendEscaped(out, value, Escape::kJson);
  out += '"';
}

void addField(std::string& out, const char* name, std::string_view value) {
  out += std::string(",\"") + name + "\":";
  addString(out, value);
}

}  // namespace

bool ResultPrinter::print(const CommandReport& report) {
  std::string out;
  if (format_ == Format::kRaw) {
    for (const std::string& piece : *report.output) put(piece);
  } else if (format_ == Format::kJson) {
    json(report, out);
  } else {
    text(report, out);
  }
  put(out);
  if (!failed_ && (std::fflush(out_) != 0 || std::ferror(out_))) failed_ = true;
  return !failed_;
}

void ResultPrinter::put(std::string_view bytes) {
  if (!failed_ && std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) failed_ = true;
}

void ResultPrinter::text(const CommandReport& report, std::string& out) {
  out = "[" + report.mode + "] " + visibleText(report.command) + "\n";
  for (const std::string& piece : *report.output) {
    put(out);
    out.clear();
    appendEscaped(out, piece, Escape::kText);
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  if (report.failed) out += "error: " + visibleText(report.errorText) + "\n";
  if (report.findAsked) {
    out += "found: " + (report.found ? visibleText(report.foundValue) : "(nothing)") + "\n";
  }
  if (report.valuesAsked) {
    out += "values:";
    for (const std::string& value : report.values) out += " " + visibleText(value);
    out += "\n";
  }
  out += "state: " + report.state + "\n";
}

void ResultPrinter::json(const CommandReport& report, std::string& out) {
  out = "{\"line\":" + std::to_string(report.line);
  addField(out, "command", report.command);
  addField(out, "mode", report.mode);
  out += report.sent ? ",\"sent\":true" : ",\"sent\":false";
  addField(out, "state", report.state);
  if (!report.sent) addField(out, "reason", report.errorKind);
  if (report.output != nullptr) {
    // Lines without "\r" and without the empty one after a final line end;
    // output that is not UTF-8 throughout goes as Latin-1, byte for byte.
    bool utf8 = true;
    for (const std::string& piece : *report.output) utf8 = utf8 && isUtf8(piece);
    out += ",\"output\":[";
    const char* start = "\"";
    for (const std::string& piece : *report.output) {
      for (size_t at = 0, end; at < piece.size(); at = end + 1) {
        end = std::min(piece.find('\n', at), piece.size());
        out += start;
        start = "";
        appendEscaped(out, std::string_view(piece).substr(at, end - at),
                      utf8 ? Escape::kJson : Escape::kJsonLatin1);
        if (end == piece.size()) continue;
        out += '"';
        start = ",\"";
        put(out);
        out.clear();
      }
    }
    out += *start == '\0' ? "\"]" : "]";
    if (!utf8) out += ",\"output_encoding\":\"latin1\"";
    addField(out, "prompt", report.prompt);
    out += ",\"duration_ms\":" + std::to_string(report.durationMs);
  }
  if (report.failed) {
    out += ",\"error\":{\"kind\":\"" + report.errorKind + "\"";
    addField(out, "text", report.errorText);
    out += "}";
  }
  if (report.findAsked && !report.found) out += ",\"found\":null";
  if (report.findAsked && report.found) addField(out, "found", report.foundValue);
  if (report.valuesAsked) {
    out += ",\"values\":[";
    for (size_t i = 0; i < report.values.size(); ++i) {
      if (i > 0) out += ',';
      addString(out, report.values[i]);
    }
    out += "]";
  }
  out += "}\n";
}
