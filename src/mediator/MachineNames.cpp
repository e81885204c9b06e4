#include "mediator/MachineNames.h"

#include <mutex>

namespace zubdm {
namespace internal {

namespace {

std::mutex& namesMutex() {
  static std::mutex mutex;
  return mutex;
}

MachineNames& currentNames() {
  static MachineNames names;
  return names;
}

}  // namespace

MachineNames machineNames() {
  std::lock_guard<std::mutex> guard(namesMutex());
  return currentNames();
}

void setMachineNames(const MachineNames& names) {
  std::lock_guard<std::mutex> guard(namesMutex());
  currentNames() = names;
}

}  // namespace internal
}  // namespace zubdm
