#ifndef ZUBDM_COMMON_LARGEBUFFER_H
#define ZUBDM_COMMON_LARGEBUFFER_H

#include <cstddef>
#include <string>

namespace QOR {

// Makes room in `text` for `extra` more bytes, doubling its capacity as
// std::string's own growth does. A new buffer of HUGE_PAGE_SIZE bytes or
// more is advised to be backed by huge pages before the old contents are
// copied in (see host/HugePageMemory.h). The contents are unchanged; only
// the capacity grows. Throws std::bad_alloc as std::string::reserve does.
void reserveForAppend(std::string& text, std::size_t extra);

}  // namespace QOR

#endif  // ZUBDM_COMMON_LARGEBUFFER_H
