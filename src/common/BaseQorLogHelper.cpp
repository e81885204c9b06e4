#include <zubdm/common/BaseQorLogHelper.h>

#include <cstdarg>

#include <zubdm/host/HostLogWriter.h>

BaseQorLogHelper::BaseQorLogHelper(unsigned int severity, const char* file,
                                   const char* function, int line)
    : severity_(severity), file_(file), function_(function), line_(line) {}

void BaseQorLogHelper::message(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  zubdm::internal::hostLogFormat(severity_, file_, function_, line_, format, args);
  va_end(args);
}

void BaseQorLogHelper::message(const std::string& text) const {
  zubdm::internal::hostLogWrite(severity_, file_, function_, line_, text);
}
