#ifndef ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H
#define ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H

#include <cstddef>
#include <functional>

// Leak checks on the test process itself.
namespace ProcessState {

// Number of descriptors the process holds open.
int openDescriptors();
// True when the process has no child at all, running or zombie.
bool noChildren();
// Children of this process, running or zombie.
int childCount();
// Bytes the C heap holds for the program (0 where the allocator cannot
// tell, as under a sanitizer).
size_t heapInUse();
// How far running the step raised the process's peak resident memory, in
// KiB; 0 under AddressSanitizer, whose shadow memory and quarantine make the
// figure meaningless.
long peakGrowthKiB(const std::function<void()>& step);
// True in a build under AddressSanitizer, whose allocator neither reports
// its heap nor fails under an address-space limit.
bool sanitized();

}  // namespace ProcessState

#endif  // ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H
