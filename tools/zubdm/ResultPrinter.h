#ifndef ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H
#define ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H

#include <cstdio>
#include <string>
#include <string_view>

#include "CommandReport.h"

// Writes reports to a stream in one of three forms: text for a person
// (control bytes made visible), one JSON object per line, or the device
// output alone, as received. The output is escaped while it is written, a
// piece (text) or a line (JSON) at a time, never copied whole. Flushes
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

  Format format_;
  std::FILE* out_;
  bool failed_ = false;
};

#endif  // ZUBDM_TOOLS_ZUBDM_RESULTPRINTER_H
