#ifndef ZUBDM_FUZZ_FUZZSUPPORT_H
#define ZUBDM_FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>

// Shared by every fuzz target: the library's log messages are dropped (the
// default sink would fill syslog), and a broken property aborts the run so
// that libFuzzer keeps the input that broke it.

// Aborts with `what` on standard error when `condition` is false.
void fuzzCheck(bool condition, const char* what);

#endif  // ZUBDM_FUZZ_FUZZSUPPORT_H
