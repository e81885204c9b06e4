#ifndef ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H
#define ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "support/LogCapture.h"
#include "support/ProcessState.h"
#include "support/UserTableGuard.h"

// Runs a test against the CLI simulator with the machine's CLI user table
// saved and cleared, log messages captured, and checks afterwards that the
// test left no descriptor, child process or /tmp/clPipe* file behind.
class MediatorFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Milliseconds since `start`.
  static long elapsedMs(std::chrono::steady_clock::time_point start);

  UserTableGuard table_;
  std::unique_ptr<SimulatorEnvironment> sim_;
  std::unique_ptr<LogCapture> logs_;

 private:
  int descriptorsBefore_ = 0;
};

#endif  // ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H
