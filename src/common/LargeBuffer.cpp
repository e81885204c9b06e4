#include "common/LargeBuffer.h"

#include <algorithm>

#include "host/HugePageMemory.h"

namespace QOR {

void reserveForAppend(std::string& text, std::size_t extra) {
  const std::size_t needed = text.size() + extra;
  if (needed <= text.capacity()) return;
  const std::size_t capacity = std::max(needed, 2 * text.capacity());
  if (capacity < HUGE_PAGE_SIZE) {
    text.reserve(capacity);
    return;
  }
  // The new buffer is advised while it is still untouched: advice does not
  // change pages that are already there.
  std::string larger;
  larger.reserve(capacity);
  adviseHugePages(&larger[0], capacity);
  larger.append(text);
  text.swap(larger);
}

}  // namespace QOR
