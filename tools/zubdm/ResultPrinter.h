#ifndef ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H
#define ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H

#include <cstdio>
#include <string>
#include <string_view>

#include "CommandReport.h"
#include "VisibleText.h"

// Writes reports to a stream in one of three forms: text for a person
// (control bytes made visible), one JSON object per line, or the device
// output alone, as received. The output is escaped while it is written, a
// slice of at most about 64 KiB at a time, never copied whole. Flushes
// after each report and remembers a failed write. Borrows the stream; not
// thread-safe.
class ResultPrinter {
 public:
  enum class Format { kText, kJson, kRaw };

  ResultPrinter(Format format, std::FILE* out) : format_(format), out_(out) {}

  // False when this or an earlier write failed (full disk, closed pipe).
  bool print(const CommandReport& report);
  bool failed() const { return failed_; }
  Format format() const { return format_; }
  void setFormat(Format format) { format_ = format; }

 private:
  // Each writes what it has gathered in `out` as it goes, and leaves the
  // rest there.
  void text(const CommandReport& report, std::string& out);
  void json(const CommandReport& report, std::string& out);
  void put(std::string_view bytes);
  // Writes `out`, then `bytes` escaped in `style` slice by slice; `out` is
  // left empty.
  void putEscaped(std::string& out, std::string_view bytes, Escape style);

  Format format_;
  std::FILE* out_;
  bool failed_ = false;
  char last_ = '\n';  // the last byte written
};

#endif  // ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H
