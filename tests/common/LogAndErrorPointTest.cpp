#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>

#include "common/CliLogHelper.h"
#include "common/Lock.h"
#include "common/QOR_error.h"
#include "common/QorErrHelper.h"
#include "common/QorLogHelper.h"
#include "common/QorMutex.h"
#include "common/QorToString.h"
#include "support/LogCapture.h"

TEST(LogPoint, CarriesItsOriginAndKeepsCallerTextVerbatim) {
  LogCapture logs;
  CliLogHelper(3, "Unit", "function", 42).message("n=%d s=%s", 7, "x");
  QorLogHelper(5, "Unit", "other", 43).message(std::string("100% %s %n done"));
  const auto records = logs.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].severity, 3u);
  EXPECT_STREQ(records[0].file, "Unit");
  EXPECT_STREQ(records[0].function, "function");
  EXPECT_EQ(records[0].line, 42);
  EXPECT_EQ(records[0].text, "n=7 s=x");
  EXPECT_EQ(records[1].text, "100% %s %n done");
}

TEST(LogPoint, LongFormattedTextsAreNotCut) {
  LogCapture logs;
  const std::string big(100000, 'a');
  CliLogHelper(3, "Unit", "f", 1).message("%s|", big.c_str());
  EXPECT_EQ(logs.texts().at(0), big + "|");
}

TEST(ErrorPoint, EachMessageAddsOneEntryWithItsCode) {
  QOR_error error;
  EXPECT_FALSE(error.is_set());
  QorErrHelper(QOR_XML_PARSE_ERROR, error, "Unit", "f", 1).message("%s", "bad <x>");
  EXPECT_TRUE(error.is_set());
  QorErrHelper(QOR_XML_PARSE_ERROR, error, "Unit", "f", 2).message("%s", "50% off");
  ASSERT_EQ(error.entries.size(), 2u);
  EXPECT_EQ(error.entries[0].code, 23);
  EXPECT_EQ(error.entries[0].text, "bad <x>");
  EXPECT_EQ(error.entries[1].text, "50% off");
}

TEST(QorToString, DecimalDigitsOnly) {
  EXPECT_EQ(QOR::to_string(0ul, std::dec), "0");
  EXPECT_EQ(QOR::to_string(ULONG_MAX, std::dec), std::to_string(ULONG_MAX));
  EXPECT_EQ(QOR::to_string(255ul, std::hex), "ff");
}

TEST(ScopedLock, ReleasesOnEveryWayOut) {
  QorMutex mutex;
  try {
    OSWrap::Lock<QorMutex> lock(mutex);
    throw std::runtime_error("leave");
  } catch (const std::runtime_error&) {
  }
  { OSWrap::Lock<QorMutex> again(mutex); }  // would deadlock if still held
  OSWrap::MutexData data;
  EXPECT_EQ(static_cast<void*>(data.get()), static_cast<void*>(&data));
}
