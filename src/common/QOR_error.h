#ifndef ZUBDM_COMMON_QOR_ERROR_H
#define ZUBDM_COMMON_QOR_ERROR_H

#include <zubdm/ZubdmExport.h>

#include <cstdint>
#include <string>
#include <vector>

// Error codes an error point reports with. The library itself reports only a
// show output that does not parse.
enum QOR_error_code : int32_t {
  QOR_XML_PARSE_ERROR = 23,
};

// One reported error: the error point's code and its formatted text.
struct ZUBDM_EXPORT error_entry {
  QOR_error_code code;
  std::string text;
};

// An error record that a caller owns, passes by reference to an operation and
// inspects afterwards. Error points append to `entries`.
class ZUBDM_EXPORT QOR_error {
 public:
  // True once at least one error was reported into the record.
  bool is_set() const { return !entries.empty(); }

  std::vector<error_entry> entries;
};

#endif  // ZUBDM_COMMON_QOR_ERROR_H
