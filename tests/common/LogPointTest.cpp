#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <zubdm/common/CliLogHelper.h>
#include <zubdm/common/QorLogHelper.h>
#include <zubdm/host/HostLog.h>
#include "support/LogCapture.h"

TEST(LogPoint, CarriesItsOriginFormatsWithoutCuttingAndKeepsCallerTextVerbatim) {
  LogCapture logs;
  const std::string big(100000, 'a');
  CliLogHelper(3, "Unit", "function", 42).message("%s|%d", big.c_str(), 7);
  QorLogHelper(5, "Unit", "other", 43).message(std::string("100% %s %n done"));
  const auto records = logs.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(records[0].severity == 3 && std::string(records[0].file) == "Unit" &&
              std::string(records[0].function) == "function" && records[0].line == 42);
  EXPECT_EQ(records[0].text, big + "|7");
  EXPECT_EQ(records[1].text, "100% %s %n done");
}

TEST(LogPoint, ASinkThatThrowsNeverTakesTheLoggingCallDown) {
  setHostLogSink([](const HostLogRecord&) { throw std::runtime_error("log disk full"); });
  EXPECT_NO_THROW(CliLogHelper(3, "Unit", "function", 44).message("to syslog instead"));
  setHostLogSink(nullptr);
}
