#include "host/HugePageMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace {

std::uintptr_t roundUp(std::uintptr_t value, std::uintptr_t unit) {
  return (value + unit - 1) / unit * unit;
}

}  // namespace

std::size_t hugePageMappingSize(std::size_t size) {
  return roundUp(size, HUGE_PAGE_SIZE);
}

void* mapHugePages(std::size_t size) {
  if (size == 0 || size > SIZE_MAX / 2) return nullptr;
  const std::size_t length = hugePageMappingSize(size);
  // One huge page more than needed, and the ends cut off, so that the
  // mapping starts on a huge-page boundary.
  const std::size_t span = length + HUGE_PAGE_SIZE;
  void* area = mmap(nullptr, span, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  char* base = static_cast<char*>(area);
  const auto address = reinterpret_cast<std::uintptr_t>(base);
  char* start = base + (roundUp(address, HUGE_PAGE_SIZE) - address);
  if (start != base) munmap(base, static_cast<std::size_t>(start - base));
  char* end = start + length;
  if (end != base + span) {
    munmap(end, static_cast<std::size_t>(base + span - end));
  }
#ifdef MADV_HUGEPAGE
  madvise(start, length, MADV_HUGEPAGE);
#endif
  return start;
}

void unmapHugePages(void* start, std::size_t size) {
  if (start != nullptr) munmap(start, hugePageMappingSize(size));
}

void adviseHugePages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  static const std::uintptr_t page =
      static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = roundUp(start, page);
  const std::uintptr_t last = (start + size) / page * page;
  if (last > first) {
    madvise(static_cast<char*>(data) + (first - start), last - first,
            MADV_HUGEPAGE);
  }
#else
  (void)data;
  (void)size;
#endif
}
