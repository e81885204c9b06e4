#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "result/OpStatusEnum.h"
#include "support/LogCapture.h"

namespace {

// The registry is process-wide and only grows: every check that depends on
// its size, or that registers values, lives in this one test. Values
// registered here are static because the registry keeps their addresses.
TEST(OpStatusEnumRegistry, LoadedValuesThenNewValuesExtendTheRegistry) {
  const OpStatusEnum& any = OpStatusEnum::Failed;
  ASSERT_EQ(any.size(), 7u);
  const std::vector<std::pair<const OpStatusEnum*, int>> loaded = {
      {&OpStatusEnum::Uninitialized, 0}, {&OpStatusEnum::Submitted, 0},
      {&OpStatusEnum::TimedOut, 2},      {&OpStatusEnum::PartialSuccess, 4},
      {&OpStatusEnum::Success, 5},       {&OpStatusEnum::Failed, 3},
      {&OpStatusEnum::InProgress, 1}};
  auto it = any.iterator();
  for (const auto& expected : loaded) {
    SCOPED_TRACE(expected.first->toString());
    EXPECT_EQ(*it, expected.first);
    EXPECT_EQ((*it)->getOrd(), expected.second);
    ++it;
  }
  EXPECT_EQ(it, OpStatusEnum::enumList.end());
  EXPECT_EQ(OpStatusEnum::last, &OpStatusEnum::InProgress);

  // Lookups: the first registered value with the ordinal wins.
  const std::vector<std::pair<int, const OpStatusEnum*>> lookups = {
      {0, &OpStatusEnum::Uninitialized},
      {1, &OpStatusEnum::InProgress},
      {2, &OpStatusEnum::TimedOut},
      {3, &OpStatusEnum::Failed},
      {4, &OpStatusEnum::PartialSuccess},
      {5, &OpStatusEnum::Success},
      {6, nullptr},
      {-1, nullptr}};
  for (const auto& lookup : lookups) {
    SCOPED_TRACE(lookup.first);
    EXPECT_EQ(any.getEnum(lookup.first), lookup.second);
    EXPECT_EQ(any.getEnumFromOrd(lookup.first), lookup.second);
  }

  static OpStatusEnum named("Named");
  EXPECT_EQ(named.getOrd(), 6);
  EXPECT_EQ(any.size(), 8u);
  EXPECT_EQ(OpStatusEnum::last, &named);
  EXPECT_EQ(any.getEnum(6), &named);

  static OpStatusEnum negative("Negative", -5);
  EXPECT_EQ(negative.getOrd(), 0);
  EXPECT_EQ(any.getEnum(0), &OpStatusEnum::Uninitialized);

  static OpStatusEnum ten("Ten", 10);
  static OpStatusEnum afterTen("AfterTen");
  EXPECT_EQ(afterTen.getOrd(), 11);
  EXPECT_EQ(any.size(), 11u);

  // At the largest ordinal the bound stays put: later values share it, each
  // with one log line, and are still registered.
  static OpStatusEnum top("Top", INT_MAX);
  LogCapture log;
  static OpStatusEnum beyond("Beyond");
  EXPECT_EQ(beyond.getOrd(), INT_MAX);
  EXPECT_EQ(OpStatusEnum::last, &beyond);
  EXPECT_EQ(any.getEnum(INT_MAX), &top);
  const std::vector<HostLogRecord> records = log.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text,
            "CRITICAL!!!!! Error.......... UpperBound 2147483647   reached "
            "for Enum");
  EXPECT_EQ(records[0].severity, 3u);
  EXPECT_STREQ(records[0].file, "OpStatusEnum");
  EXPECT_STREQ(records[0].function, "OpStatusEnum");
}

TEST(OpStatusEnumCopy, CopiesCompareByOrdinalAndAreNeverRegistered) {
  EXPECT_TRUE(OpStatusEnum::Uninitialized.equals(OpStatusEnum::Submitted));
  EXPECT_FALSE(OpStatusEnum::Success.equals(OpStatusEnum::PartialSuccess));

  const std::size_t sizeBefore = OpStatusEnum::Success.size();
  OpStatusEnum* const lastBefore = OpStatusEnum::last;
  OpStatusEnum copy(OpStatusEnum::Success);
  EXPECT_TRUE(copy.equals(OpStatusEnum::Success));
  EXPECT_EQ(copy.toString(), "Success");

  copy = OpStatusEnum::Failed;
  EXPECT_EQ(copy.toString(), "Failed");
  EXPECT_EQ(copy.getOrd(), 3);
  const OpStatusEnum& self = copy;
  copy = self;
  EXPECT_EQ(copy.toString(), "Failed");

  EXPECT_EQ(OpStatusEnum::Success.size(), sizeBefore);
  EXPECT_EQ(OpStatusEnum::last, lastBefore);
  EXPECT_EQ(OpStatusEnum::Success.toString(), "Success");
}

}  // namespace
