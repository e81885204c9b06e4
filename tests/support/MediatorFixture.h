#ifndef ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H
#define ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include <zubdm/mediator/ZUBAdaptor.h>
#include "support/LogCapture.h"
#include "support/ProcessState.h"
#include "support/SimulatorEnvironment.h"

// Runs a test against the CLI simulator on a private element (table, pipe
// directory), log messages captured, and checks afterwards that the test
// left no descriptor, child process or pipe file behind.
class MediatorFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.reset(new SimulatorEnvironment());
    logs_.reset(new LogCapture());
    descriptorsBefore_ = ProcessState::openDescriptors();
  }
  void TearDown() override {
    EXPECT_EQ(ProcessState::openDescriptors(), descriptorsBefore_);
    EXPECT_TRUE(ProcessState::noChildren());
    EXPECT_TRUE(sim_->pipeFiles().empty());
    logs_.reset();
    sim_.reset();
  }

  // Milliseconds since `start`.
  static long elapsedMs(std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  }

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
  void start(const std::string& scenario) {
    sim_->setScenario(scenario);
    adaptor_.reset(new ZUB_DEVICE_MEDIATION::ZUBAdaptor);
    ASSERT_TRUE(adaptor_->connect());
    sim_->clearTranscript();
    logs_->clear();
  }
  void TearDown() override {
    adaptor_.reset();
    MediatorFixture::TearDown();
  }

  std::unique_ptr<ZUB_DEVICE_MEDIATION::ZUBAdaptor> adaptor_;
};

#endif  // ZUBDM_TESTS_SUPPORT_MEDIATORFIXTURE_H
