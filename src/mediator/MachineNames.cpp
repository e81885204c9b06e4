#include <zubdm/mediator/MachineNames.h>

#include <pthread.h>

#include <mutex>
#include <new>

#include <zubdm/mediator/MachineNamesSeam.h>

namespace ZUB_DEVICE_MEDIATION {

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

std::string MachineNames::pipe(int slot, bool written) const {
  return pipeDirectory + (written ? "clPipeW" : "clPipeR") + std::to_string(slot);
}

MachineNames machineNames() {
  std::lock_guard<std::mutex> guard(gNamesMutex);
  return currentNames();
}

}  // namespace ZUB_DEVICE_MEDIATION

namespace zubdm {
namespace internal {

void setMachineNames(const ZUB_DEVICE_MEDIATION::MachineNames& names) {
  std::lock_guard<std::mutex> guard(ZUB_DEVICE_MEDIATION::gNamesMutex);
  ZUB_DEVICE_MEDIATION::currentNames() = names;
}

}  // namespace internal
}  // namespace zubdm
