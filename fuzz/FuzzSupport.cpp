#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

#include "host/HostLog.h"

void fuzzCheck(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  setHostLogSink([](const HostLogRecord&) {});
  return 0;
}
