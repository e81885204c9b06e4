#ifndef ZUBDM_MEDIATOR_MACHINENAMES_H
#define ZUBDM_MEDIATOR_MACHINENAMES_H

#include <zubdm/ZubdmExport.h>

#include <string>

namespace ZUB_DEVICE_MEDIATION {

// The names a mediator shares with the rest of the element: the table of CLI
// users, the directory of the pipes, the CLI program. On an element they are
// always these defaults.
struct ZUBDM_EXPORT MachineNames {
  std::string userTable = "/shmem_cl_users";
  std::string pipeDirectory = "/tmp/";  // ends in "/"
  // Looked up along PATH unless it holds a "/".
  std::string cliProgram = "cli";

  // The pipe of slot `slot` that the mediator writes (clPipeW<slot>) or
  // reads (clPipeR<slot>).
  std::string pipe(int slot, bool written) const;
};

// The names in effect, which mediators constructed now take. Thread-safe.
ZUBDM_EXPORT MachineNames machineNames();

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_MEDIATOR_MACHINENAMES_H
