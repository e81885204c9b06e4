// The library on the machine's own names: the table "/shmem_cl_users", the
// pipes /tmp/clPipe*, and "cli" looked up along PATH (the simulator's
// directory first). The table is saved and restored, and the suite runs
// alone (CTest resource lock).
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <zubdm/controller/CLIOpController.h>
#include <zubdm/mediator/MachineNamesSeam.h>
#include "support/ProcessState.h"
#include "support/UserTableGuard.h"

TEST(EndToEnd, ControllerRunsACommandOnTheMachineNamesAndLeavesNothing) {
  UserTableGuard table;
  zubdm::internal::setMachineNames(ZUB_DEVICE_MEDIATION::MachineNames());
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (ZUBDM_SIM_DIR ":" + path).c_str(), 1);
  std::vector<unsigned char> bytes(UserTableGuard::SIZE, 0);
  bytes[4] = bytes[116 + 4] = 1;  // slots 0 and 1 held by other programs
  table.write(bytes);
  const char *write = "/tmp/clPipeW2", *read = "/tmp/clPipeR2";
  {
    CLIOpController controller;
    EXPECT_TRUE(controller.adaptor.connect());
    EXPECT_EQ(access(write, F_OK) | access(read, F_OK), 0);
    ZUB_DEVICE_MEDIATION::CLIResult result;
    controller.forwardCliCommand("", "show interfaces", result);
    std::string admin;
    EXPECT_TRUE(result.getXMLResult().find_value("A", "port", "admin", admin) == 1 && admin == "up");
  }
  setenv("PATH", path.c_str(), 1);
  EXPECT_TRUE(access(write, F_OK) && access(read, F_OK));
  unlink(write), unlink(read);  // what a fault left, so that later runs start clean
  EXPECT_TRUE(ProcessState::noChildren());
  EXPECT_EQ(table.read(), bytes) << "the slot is freed, the others untouched";
}
