#include "MachinePaths.h"

std::string MachinePaths::pipe(int slot, bool write) const {
  return pipeDirectory + (write ? "clPipeW" : "clPipeR") + std::to_string(slot);
}

MachinePaths& machinePaths() {
  static MachinePaths paths;
  return paths;
}
