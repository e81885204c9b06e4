#ifndef ZUBDM_COMMON_BASEQORLOGHELPER_H
#define ZUBDM_COMMON_BASEQORLOGHELPER_H

#include <zubdm/ZubdmExport.h>

#include <string>

// A log point: a short-lived local object that carries a severity (syslog
// numbering: 3 error, 4 warning, 5 notice), the source file's name, the
// function's name and the line, followed by exactly one message() call.
// File and function are pointers to literals; nothing is copied or owned.
class ZUBDM_EXPORT BaseQorLogHelper {
 public:
  BaseQorLogHelper(unsigned int severity, const char* file,
                   const char* function, int line);

  // Formats with printf conversions (%d, %s) and hands the text to the host.
  void message(const char* format, ...) const
      __attribute__((format(printf, 2, 3)));
  // Hands `text` to the host verbatim: no character in it is interpreted.
  // Every text that carries caller data goes through this overload.
  void message(const std::string& text) const;

  // Where the host sends this log point's messages.
  virtual const char* channel() const = 0;

 protected:
  // Log points are never destroyed through a base pointer.
  ~BaseQorLogHelper() = default;

 private:
  unsigned int severity_;
  const char* file_;
  const char* function_;
  int line_;
};

#endif  // ZUBDM_COMMON_BASEQORLOGHELPER_H
