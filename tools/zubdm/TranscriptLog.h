#ifndef ZUBDM_TOOLS_ZUBDM_TRANSCRIPTLOG_H
#define ZUBDM_TOOLS_ZUBDM_TRANSCRIPTLOG_H

#include <cstdio>
#include <string>
#include <string_view>

#include "Masks.h"
#include <zubdm/zubdm.h>

// The session log: every line sent ("> ") and every line received ("< ")
// as the mediator's transcript gives them, one timestamped log line each,
// with control bytes escaped and the masks applied. Bytes are collected
// until a received line ends or the direction changes, so a secret split
// over two reads is still masked. Writes to a file (--log) and/or standard
// error (-v). Owns the file; borrows the masks. Not thread-safe.
class TranscriptLog {
 public:
  explicit TranscriptLog(const Masks& masks) : masks_(masks) {}
  ~TranscriptLog();
  TranscriptLog(const TranscriptLog&) = delete;
  TranscriptLog& operator=(const TranscriptLog&) = delete;

  // Appends to `path` from now on; false with a message.
  bool openFile(const std::string& path, std::string& error);
  void toStandardError(bool on) { stderr_ = on; }
  bool active() const { return file_ != nullptr || stderr_; }

  // The transcript sink.
  void add(ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction direction, std::string_view bytes);
  // Writes what is collected.
  void flush();
  // False, with a message, when a line could not be written to the file.
  bool fileWritten(std::string& error) const;

 private:
  void writeLine(const std::string& line);

  const Masks& masks_;
  std::FILE* file_ = nullptr;
  std::string path_;
  int writeError_ = 0;  // errno of the first failed write to the file
  bool stderr_ = false;
  bool sending_ = false;
  std::string pending_;
  std::string stamp_;
};

#endif  // ZUBDM_TOOLS_ZUBDM_TRANSCRIPTLOG_H
