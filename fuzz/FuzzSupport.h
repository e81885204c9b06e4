#ifndef ZUBDM_FUZZ_FUZZSUPPORT_H
#define ZUBDM_FUZZ_FUZZSUPPORT_H

#include <cstdio>
#include <cstdlib>

#include <zubdm/host/HostLog.h>

// Included by every fuzz target, each a program of one source file: the
// library's log messages are dropped (the default sink would fill syslog),
// and a broken property aborts the run so that libFuzzer keeps the input
// that broke it.

// Aborts with `what` on standard error when `condition` is false.
inline void fuzzCheck(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  setHostLogSink([](const HostLogRecord&) {});
  return 0;
}

#endif  // ZUBDM_FUZZ_FUZZSUPPORT_H
