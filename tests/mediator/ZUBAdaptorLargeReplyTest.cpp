#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mediator/ZUBAdaptor.h"
#include "result/CLIResponse.h"
#include "support/MediatorFixture.h"
#include "support/ScenarioBuilder.h"

using ZUB_DEVICE_MEDIATION::CLIResponse;
using ZUB_DEVICE_MEDIATION::ZUBAdaptor;

namespace {

class ZUBAdaptorLargeReply : public AdaptorFixture {};

}  // namespace

// Replies of several MiB stream in without a wait before each read and grow
// the reply buffer many times over; each must arrive whole, and a small
// reply after a large one must not see any of its bytes.
TEST_F(ZUBAdaptorLargeReply, RepliesOfEverySizeArriveWholeAndApart) {
  start("{}");
  const size_t kMiB = size_t{1} << 20;
  const size_t sizes[] = {5 * kMiB + 3, 1000, 2 * kMiB, 64 * 1024, 9 * kMiB};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    CLIResponse response;
    ASSERT_TRUE(adaptor_->send("show bulk " + std::to_string(size), response));
    ASSERT_EQ(response.getResponseList().size(), 1u);
    const std::string& document = response.getResponseList()[0];
    EXPECT_EQ(document.size(), size);
    EXPECT_EQ(document.compare(0, 8, "<SHOW>\r\n"), 0);
    EXPECT_EQ(document.compare(document.size() - 9, 9, "</SHOW>\r\n"), 0);
    EXPECT_EQ(response.getRspContext(), "HVB#");

    response.clearAll();
    ASSERT_TRUE(adaptor_->send("show version", response));
    ASSERT_EQ(response.getResponseList().size(), 1u);
    EXPECT_EQ(response.getResponseList()[0].find('<'), std::string::npos);
    EXPECT_EQ(response.getRspContext(), "HVB#");
  }
  EXPECT_TRUE(logs_->records().empty());
}

// A CLI that stops in the middle of a long reply is timed out by the reply
// time-out, also while the reply was streaming in.
TEST_F(ZUBAdaptorLargeReply, CliStallingMidStreamTimesOut) {
  start(ScenarioBuilder()
            .reply("big", "0123456789abcdef", false,
                   R"("repeat": 262144, "fault": "hang")")
            .json());
  adaptor_->setReplyTimeout(std::chrono::milliseconds(300));
  CLIResponse response;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(adaptor_->send("big", response));
  EXPECT_TRUE(response.isTimeout());
  EXPECT_LT(elapsedMs(start), 2000);
  EXPECT_TRUE(adaptor_->restart());
  response.clearAll();
  EXPECT_TRUE(adaptor_->send("end", response));
}
