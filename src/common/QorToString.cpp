#include <zubdm/common/QorToString.h>

namespace QOR {
template ZUBDM_EXPORT std::string to_string<unsigned long>(unsigned long,
                                              std::ios_base& (*)(std::ios_base&));
}  // namespace QOR
