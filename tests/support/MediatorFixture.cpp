#include "support/MediatorFixture.h"

void MediatorFixture::SetUp() {
  sim_.reset(new SimulatorEnvironment());
  logs_.reset(new LogCapture());
  descriptorsBefore_ = ProcessState::openDescriptors();
}

void MediatorFixture::TearDown() {
  EXPECT_EQ(ProcessState::openDescriptors(), descriptorsBefore_);
  EXPECT_TRUE(ProcessState::noChildren());
  EXPECT_TRUE(sim_->pipeFiles().empty());
  logs_.reset();
  sim_.reset();
}

long MediatorFixture::elapsedMs(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

void AdaptorFixture::start(const std::string& scenario) {
  sim_->setScenario(scenario);
  adaptor_.reset(new ZUB_DEVICE_MEDIATION::ZUBAdaptor);
  ASSERT_TRUE(adaptor_->connect());
  sim_->clearTranscript();
  logs_->clear();
}

void AdaptorFixture::TearDown() {
  adaptor_.reset();
  MediatorFixture::TearDown();
}
