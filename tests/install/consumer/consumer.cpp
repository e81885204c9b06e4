// A host that only includes the umbrella header and builds a result.
#include <zubdm/zubdm.h>

#include <cstdio>

int main() {
  ZUB_DEVICE_MEDIATION::CLIResult result;
  result.setState(OpStatusEnum::PartialSuccess);
  const bool ok = result.getState().equals(OpStatusEnum::Success);
  std::printf("consumer: %s\n", ok ? "ok" : "unexpected state");
  return ok ? 0 : 1;
}
