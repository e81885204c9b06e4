#ifndef ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H
#define ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H

#include <cstdio>
#include <string>

#include "CommandReport.h"

// Writes command reports to a stream in one of three forms: text for a
// person (control bytes made visible), one JSON object per line, or the
// device output alone, as received. Flushes after each report and remembers
// a failed write. Borrows the stream; not thread-safe.
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
  std::string text(const CommandReport& report) const;
  std::string json(const CommandReport& report) const;

  Format format_;
  std::FILE* out_;
  bool failed_ = false;
};

#endif  // ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H
