#ifndef ZUBDM_HOST_HOSTLOGWRITER_H
#define ZUBDM_HOST_HOSTLOGWRITER_H

#include <cstdarg>
#include <string>

namespace zubdm {
namespace internal {

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

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_HOST_HOSTLOGWRITER_H
