#ifndef ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H
#define ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H

#include <cstddef>
#include <string>
#include <vector>

// Leak checks on the test process itself.
namespace ProcessState {

// Number of descriptors the process holds open.
int openDescriptors();
// True when the process has no child at all, running or zombie.
bool noChildren();
// Resident set size in KiB.
long residentKiB();
// Children of this process, running or zombie.
int childCount();
// Highest resident set size since the last resetPeakResident(), in KiB.
long peakResidentKiB();
// Starts a new peak at the current resident set size; false when the kernel
// does not allow it.
bool resetPeakResident();
// Bytes the C heap holds for the program (0 where the allocator cannot
// tell, as under a sanitizer).
size_t heapInUse();

}  // namespace ProcessState

#endif  // ZUBDM_TESTS_SUPPORT_PROCESSSTATE_H
