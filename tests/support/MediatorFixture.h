#ifndef ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H
#define ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "mediator/ZUBAdaptor.h"
#include "support/LogCapture.h"
#include "support/ProcessState.h"
#include "support/SimulatorEnvironment.h"

// Runs a test against the CLI simulator on a private element (table, pipe
// directory), log messages captured, and checks afterwards that the test
// left no descriptor, child process or pipe file behind.
class MediatorFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Milliseconds since `start`.
  static long elapsedMs(std::chrono::steady_clock::time_point start);

  std::unique_ptr<SimulatorEnvironment> sim_;
  std::unique_ptr<LogCapture> logs_;

 private:
  int descriptorsBefore_ = 0;
};

// A MediatorFixture with a logged-in mediator, started by start().
class AdaptorFixture : public MediatorFixture {
 protected:
  // Starts a logged-in mediator on `scenario`; transcript and logs are
  // cleared afterwards.
  void start(const std::string& scenario);
  void TearDown() override;

  std::unique_ptr<ZUB_DEVICE_MEDIATION::ZUBAdaptor> adaptor_;
};

#endif  // ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H
