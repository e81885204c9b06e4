#ifndef ZUBDM_MEDIATOR_MACHINENAMES_H
#define ZUBDM_MEDIATOR_MACHINENAMES_H

#include <string>

namespace zubdm {
namespace internal {

// The names a mediator shares with the rest of the element: the table of CLI
// users, the directory of the pipes, the CLI program. On an element they are
// always the defaults; tests replace them so that they can run side by side
// without touching the machine's own table and pipes.
struct MachineNames {
  std::string userTable = "/shmem_cl_users";
  std::string pipeDirectory = "/tmp/";
  // Looked up along PATH unless it holds a "/".
  std::string cliProgram = "cli";
};

// The names in effect. Thread-safe.
MachineNames machineNames();

// Replaces the names for mediators constructed from now on. Thread-safe; a
// mediator keeps the names it was constructed with. Never read from the
// environment: only code linked with the library's internals can call it.
void setMachineNames(const MachineNames& names);

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_MACHINENAMES_H
