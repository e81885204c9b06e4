#include <zubdm/result/OpStatusEnum.h>

#include <gtest/gtest.h>

// The registry is process-wide, so every check of it lives in this one test.
TEST(OpStatusEnumRegistry, OrdinalsLookupsAndRegistrationFollowTheRules) {
  const OpStatusEnum& any = OpStatusEnum::Failed;
  EXPECT_EQ(OpStatusEnum::Uninitialized.getOrd(), 0) << "a negative ordinal becomes 0";
  EXPECT_EQ(any.getEnum(0), &OpStatusEnum::Uninitialized);  // the first one wins
  EXPECT_EQ(any.getEnumFromOrd(6), nullptr);
  const OpStatusEnum copy(OpStatusEnum::Success);
  EXPECT_TRUE(copy.equals(OpStatusEnum::Success));
  EXPECT_EQ(any.size(), 7u) << "a copy is never registered";
  static OpStatusEnum ten("Ten", 10);
  static OpStatusEnum next("Next");  // above the highest ordinal so far
  EXPECT_EQ(next.getOrd(), 11);
  EXPECT_EQ(OpStatusEnum::last, &next);
  EXPECT_EQ(any.size(), 9u);
  {
    const OpStatusEnum brief("Brief", 12);  // a host's own value, soon gone
    EXPECT_EQ(any.getEnum(12), &brief);
  }
  EXPECT_EQ(any.getEnum(12), nullptr) << "a destroyed value left its address behind";
  EXPECT_EQ(OpStatusEnum::last, &next);
  EXPECT_EQ(any.size(), 9u);
}
