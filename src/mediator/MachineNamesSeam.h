#ifndef ZUBDM_MEDIATOR_MACHINENAMESSEAM_H
#define ZUBDM_MEDIATOR_MACHINENAMESSEAM_H

#include <zubdm/mediator/MachineNames.h>

namespace zubdm {
namespace internal {

// Replaces the names for mediators constructed from now on, so that tests
// run side by side without touching the machine's own table and pipes.
// Thread-safe; a mediator keeps the names it was constructed with. Never
// read from the environment, and not exported: only code linked with the
// library's objects can call it.
void setMachineNames(const ZUB_DEVICE_MEDIATION::MachineNames& names);

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_MACHINENAMESSEAM_H
