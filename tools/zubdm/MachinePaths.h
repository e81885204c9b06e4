#ifndef ZUBDM_TOOLS_ZUBDM_MACHINEPATHS_H
#define ZUBDM_TOOLS_ZUBDM_MACHINEPATHS_H

#include <string>

// The element's names that the command looks at by itself, to list slots
// and to explain failures: the CLI user table and the pipe directory. They
// are the library's fixed names; the test build's start-up hook replaces
// them with a test's private ones, as it does the library's.
struct MachinePaths {
  std::string userTable = "/shmem_cl_users";
  std::string pipeDirectory = "/tmp/";  // ends in "/"

  // <pipeDirectory>clPipeW<slot> (`write`) or clPipeR<slot>.
  std::string pipe(int slot, bool write) const;
};

// The names in effect; the start-up hook may replace them before main().
MachinePaths& machinePaths();

#endif  // ZUBDM_TOOLS_ZUBDM_MACHINEPATHS_H
