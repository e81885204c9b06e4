#include <zubdm/common/CliDialect.h>

#include <algorithm>

namespace zubdm {
namespace internal {

bool CliDialect::setErrorPrefixes(const std::vector<std::string>& prefixes) {
  const auto refused = [](const std::string& prefix) {
    return prefix.empty() || std::any_of(prefix.begin(), prefix.end(), [](char c) {
             const auto byte = static_cast<unsigned char>(c);
             return byte < 0x20 || byte == 0x7f;
           });
  };
  if (std::any_of(prefixes.begin(), prefixes.end(), refused)) return false;
  errorPrefixes_ = prefixes;
  return true;
}

}  // namespace internal
}  // namespace zubdm
