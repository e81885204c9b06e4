#ifndef ZUBDM_COMMON_QORTOSTRING_H
#define ZUBDM_COMMON_QORTOSTRING_H

#include <ios>
#include <locale>
#include <sstream>
#include <string>

#include <zubdm/ZubdmExport.h>

namespace QOR {

// Formats `value` through an output stream after applying `manipulator`
// (std::dec, std::hex, ...), in the classic locale: a host's global locale
// must not group the digits of numbers meant for the CLI.
template <typename T>
std::string to_string(T value, std::ios_base& (*manipulator)(std::ios_base&)) {
  std::ostringstream stream(std::ios_base::out);
  stream.imbue(std::locale::classic());
  manipulator(stream);
  stream << value;
  return stream.str();
}

extern template ZUBDM_EXPORT std::string to_string<unsigned long>(
    unsigned long, std::ios_base& (*)(std::ios_base&));

}  // namespace QOR

#endif  // ZUBDM_COMMON_QORTOSTRING_H
