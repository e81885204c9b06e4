#ifndef ZUBDM_HOST_HUGEPAGEMEMORY_H
#define ZUBDM_HOST_HUGEPAGEMEMORY_H

#include <cstddef>

// Large buffers backed by huge pages where the system offers them. Filling
// fresh memory costs a page fault per page, and a fault costs far more than
// copying the page: with 2 MiB pages a large reply or document takes a few
// faults instead of one per 4 KiB.

constexpr std::size_t HUGE_PAGE_SIZE = std::size_t{2} << 20;

// Maps `size` bytes of zeroed memory, rounded up to whole huge pages and
// starting on a huge-page boundary, advised to be backed by huge pages.
// Returns the start, or null when the mapping failed. The rounded size is
// what hugePageMappingSize() returns for `size`.
void* mapHugePages(std::size_t size);
std::size_t hugePageMappingSize(std::size_t size);
// Unmaps what mapHugePages(size) returned.
void unmapHugePages(void* start, std::size_t size);

// Advises huge pages for the whole pages of [data, data + size). Advice
// only: pages already present stay as they are, and memory works the same
// without it.
void adviseHugePages(void* data, std::size_t size);

#endif  // ZUBDM_HOST_HUGEPAGEMEMORY_H
