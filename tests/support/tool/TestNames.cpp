// Start-up hook of the zubdm command as the tests build it: a test's private
// machine names (CLI user table, pipe directory, CLI program) come from
// ZUBDM_TEST_USER_TABLE, ZUBDM_TEST_PIPE_DIR and ZUBDM_TEST_CLI, each
// optional.
// The installed command is built without this file.
#include <cstdlib>

#include <zubdm/mediator/MachineNamesSeam.h>

namespace {

void take(const char* variable, std::string& name) {
  const char* value = std::getenv(variable);
  if (value != nullptr) name = value;
}

const bool applied = [] {
  ZUB_DEVICE_MEDIATION::MachineNames names;
  take("ZUBDM_TEST_USER_TABLE", names.userTable);
  take("ZUBDM_TEST_PIPE_DIR", names.pipeDirectory);
  take("ZUBDM_TEST_CLI", names.cliProgram);
  zubdm::internal::setMachineNames(names);
  return true;
}();

}  // namespace
