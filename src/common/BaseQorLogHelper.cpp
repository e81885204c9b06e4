#include "common/BaseQorLogHelper.h"

#include <cstdarg>

#include "host/HostLog.h"

namespace {
thread_local unsigned long messagesDelivered = 0;
}  // namespace

unsigned long BaseQorLogHelper::messagesOnThisThread() {
  return messagesDelivered;
}

BaseQorLogHelper::BaseQorLogHelper(unsigned int severity, const char* file,
                                   const char* function, int line)
    : severity_(severity), file_(file), function_(function), line_(line) {}

void BaseQorLogHelper::message(const char* format, ...) const {
  ++messagesDelivered;
  va_list args;
  va_start(args, format);
  hostLogFormat(severity_, file_, function_, line_, format, args);
  va_end(args);
}

void BaseQorLogHelper::message(const std::string& text) const {
  ++messagesDelivered;
  hostLogWrite(severity_, file_, function_, line_, text);
}
