// The library on the machine's own names: the table "/shmem_cl_users", the
// pipes /tmp/clPipe*, and "cli" looked up along PATH (the simulator's
// directory first). The table is saved, cleared and restored, and the suite
// runs alone (CTest resource lock).
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "controller/CLIOpController.h"
#include "mediator/MachineNames.h"
#include "result/OpStatusEnum.h"
#include "support/LogCapture.h"
#include "support/ProcessState.h"
#include "support/UserTableGuard.h"

using ZUB_DEVICE_MEDIATION::CLIResult;

namespace {

const int kEntry = 116;

bool isFifo(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

bool exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    zubdm::internal::setMachineNames(zubdm::internal::MachineNames());
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    setenv("PATH", (ZUBDM_SIM_DIR ":" + savedPath_).c_str(), 1);
    descriptorsBefore_ = ProcessState::openDescriptors();
  }
  void TearDown() override {
    setenv("PATH", savedPath_.c_str(), 1);
    EXPECT_EQ(ProcessState::openDescriptors(), descriptorsBefore_);
    EXPECT_TRUE(ProcessState::noChildren());
  }

  UserTableGuard table_;
  LogCapture logs_;  // keeps the library's log lines out of the output
  std::string savedPath_;
  int descriptorsBefore_ = 0;
};

}  // namespace

TEST_F(EndToEnd, ControllerRunsACommandOnTheMachineNamesAndLeavesNothing) {
  struct Case {
    const char* name;
    std::vector<int> foreignSlots;  // held by other programs
    int slot;                       // the one the controller gets
  } cases[] = {
      {"empty table", {}, 0},
      {"slots 0 and 1 held by others", {0, 1}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> bytes(UserTableGuard::SIZE, 0);
    for (int slot : c.foreignSlots) bytes[slot * kEntry + 4] = 1;
    table_.write(bytes);
    const std::string write = "/tmp/clPipeW" + std::to_string(c.slot);
    const std::string read = "/tmp/clPipeR" + std::to_string(c.slot);
    ASSERT_FALSE(exists(write) || exists(read)) << "pipe files left from elsewhere";
    {
      CLIOpController controller;
      ASSERT_EQ(controller.adaptor.getCliIndex(), c.slot);
      ASSERT_TRUE(controller.adaptor.connect());
      EXPECT_TRUE(isFifo(write));
      EXPECT_TRUE(isFifo(read));
      int pid = 0;
      std::memcpy(&pid, table_.read().data() + c.slot * kEntry + 72, sizeof pid);
      EXPECT_EQ(pid, controller.adaptor.getCliPid());

      CLIResult result;
      controller.forwardCliCommand("", "show interfaces", result);
      EXPECT_TRUE(result.getState().equals(OpStatusEnum::Success)) << result.toString();
      std::string admin;
      EXPECT_EQ(result.getXMLResult().find_value("A", "port", "admin", admin), 1);
      EXPECT_EQ(admin, "up");
    }
    EXPECT_FALSE(exists(write));
    EXPECT_FALSE(exists(read));
    EXPECT_TRUE(ProcessState::noChildren());
    EXPECT_EQ(table_.read(), bytes) << "the slot is freed, the others untouched";
  }
}
