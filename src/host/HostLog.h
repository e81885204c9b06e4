#ifndef ZUBDM_HOST_HOSTLOG_H
#define ZUBDM_HOST_HOSTLOG_H

#include <cstdarg>
#include <functional>
#include <string>

// The host's logging component: every message the library writes arrives here
// as one record. The default sink writes it to syslog with the severity as the
// priority; a host (or a test) installs its own sink to route messages
// elsewhere.
struct HostLogRecord {
  unsigned severity;
  const char* file;
  const char* function;
  int line;
  std::string text;
};

// Replaces the sink for the whole process; an empty function restores the
// default syslog sink. Thread-safe; the sink itself is called on whatever
// thread logs and must not log through the library.
void setHostLogSink(std::function<void(const HostLogRecord&)> sink);

// Delivers one message to the current sink. The text is taken as it is.
void hostLogWrite(unsigned severity, const char* file, const char* function,
                  int line, std::string text);

// Formats `format` with printf conversions and delivers the result.
void hostLogFormat(unsigned severity, const char* file, const char* function,
                   int line, const char* format, va_list args)
    __attribute__((format(printf, 5, 0)));

// printf-style formatting into a string (no length limit).
std::string hostFormat(const char* format, va_list args)
    __attribute__((format(printf, 1, 0)));

#endif  // ZUBDM_HOST_HOSTLOG_H
