#ifndef ZUBDM_COMMON_BASEQORERRHELPER_H
#define ZUBDM_COMMON_BASEQORERRHELPER_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/common/QOR_error.h>

// An error point: a short-lived local object that reports one error, with its
// code, into a caller's QOR_error. Built with the code, the record, the source
// file's name, the function's name and the line, followed by one message().
class ZUBDM_EXPORT BaseQorErrHelper {
 public:
  BaseQorErrHelper(QOR_error_code code, QOR_error& error, const char* file,
                   const char* function, int line);

  // Formats with printf conversions and appends one entry to the record.
  void message(const char* format, ...) const
      __attribute__((format(printf, 2, 3)));

  virtual const char* channel() const = 0;

 protected:
  ~BaseQorErrHelper() = default;

 private:
  QOR_error_code code_;
  QOR_error& error_;
  // Where the error was reported: part of the error point's layout, which
  // the host shares; the entry itself carries only the code and the text.
  [[maybe_unused]] const char* file_;
  [[maybe_unused]] const char* function_;
  [[maybe_unused]] int line_;
};

#endif  // ZUBDM_COMMON_BASEQORERRHELPER_H
