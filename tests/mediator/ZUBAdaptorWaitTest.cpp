#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "mediator/ZUBAdaptor.h"
#include "result/CLIResponse.h"
#include "support/MediatorFixture.h"
#include "support/ScenarioBuilder.h"

using ZUB_DEVICE_MEDIATION::CLIResponse;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

class ZUBAdaptorWait : public AdaptorFixture {};
// Runs also under ThreadSanitizer (label "concurrency").
class ZUBAdaptorWaitConcurrency : public AdaptorFixture {};

}  // namespace

TEST_F(ZUBAdaptorWait, CommandToACliThatStopsReadingFailsWithinTheBound) {
  start(ScenarioBuilder().reply("freeze", "ok\r\nHVB#", true,
                                R"("fault": "stop_reading")").json());
  adaptor_->setReplyTimeout(milliseconds(300));
  CLIResponse response;
  ASSERT_TRUE(adaptor_->send("freeze", response));
  // More than the pipe holds: the write can finish only if the CLI reads.
  const std::string command(256 * 1024, 'x');
  const auto started = Clock::now();
  EXPECT_FALSE(adaptor_->send(command, response));
  EXPECT_LT(elapsedMs(started), 3000);
  EXPECT_GE(elapsedMs(started), 250);
  EXPECT_TRUE(logs_->contains("Can't send command"));
  // The CLI holds part of a line: nothing more may be written after it.
  EXPECT_FALSE(adaptor_->isReadyForCommand());
  EXPECT_FALSE(adaptor_->send("end", response));
}

TEST_F(ZUBAdaptorWaitConcurrency, CancelEndsTheWaitAtOnceAsATimeOutWould) {
  start(ScenarioBuilder()
            .reply("slow", "late\r\nHVB#", true, R"("delay_ms": 1500)")
            .json());
  CLIResponse response;
  std::thread canceller([this] {
    std::this_thread::sleep_for(milliseconds(100));
    adaptor_->cancel();
  });
  const auto started = Clock::now();
  EXPECT_FALSE(adaptor_->send("slow", response));
  canceller.join();
  EXPECT_LT(elapsedMs(started), 1000);
  EXPECT_TRUE(response.isTimeout());
  // The late reply is dropped, never taken for the next command's.
  CLIResponse next;
  ASSERT_TRUE(adaptor_->send("end", next));
  EXPECT_EQ(next.getResponseList(), std::vector<std::string>{""});
}

TEST_F(ZUBAdaptorWait, CancelWhileNothingWaitsEndsOnlyTheNextWait) {
  start("");
  adaptor_->cancel();
  CLIResponse response;
  EXPECT_FALSE(adaptor_->send("end", response));
  EXPECT_TRUE(response.isTimeout());
  CLIResponse next;
  EXPECT_TRUE(adaptor_->send("end", next));
  EXPECT_TRUE(adaptor_->send("end", next));
}
