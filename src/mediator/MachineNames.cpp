#include "mediator/MachineNames.h"

#include <pthread.h>

#include <mutex>
#include <new>

namespace zubdm {
namespace internal {

namespace {

std::mutex gNamesMutex;
// A fork while another thread holds the lock would hand the child a lock
// that none of its threads can release: the child gets it free.
[[maybe_unused]] const int kNamesForkHandler =
    pthread_atfork(nullptr, nullptr, [] { new (&gNamesMutex) std::mutex; });

MachineNames& currentNames() {
  static MachineNames names;
  return names;
}

}  // namespace

MachineNames machineNames() {
  std::lock_guard<std::mutex> guard(gNamesMutex);
  return currentNames();
}

void setMachineNames(const MachineNames& names) {
  std::lock_guard<std::mutex> guard(gNamesMutex);
  currentNames() = names;
}

}  // namespace internal
}  // namespace zubdm
