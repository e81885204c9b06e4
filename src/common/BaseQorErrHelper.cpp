#include <zubdm/common/BaseQorErrHelper.h>

#include <cstdarg>

#include <zubdm/host/HostLogWriter.h>

BaseQorErrHelper::BaseQorErrHelper(QOR_error_code code, QOR_error& error,
                                   const char* file, const char* function,
                                   int line)
    : code_(code), error_(error), file_(file), function_(function),
      line_(line) {}

void BaseQorErrHelper::message(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  std::string text = zubdm::internal::hostFormat(format, args);
  va_end(args);
  error_.entries.push_back(error_entry{code_, std::move(text)});
}
