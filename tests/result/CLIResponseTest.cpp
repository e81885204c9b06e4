#include <zubdm/result/CLIResponse.h>

#include <gtest/gtest.h>

#include <string>

using ZUB_DEVICE_MEDIATION::CLIResponse;

TEST(CLIResponse, ErrorsJoinWithSemicolonsUntilCleared) {
  CLIResponse response;
  for (const char* text : {"x", "y", ""}) response.addError(text);
  EXPECT_EQ(response.getError(), "x ; y ; ");
  response.clearError();
  response.addError("w");
  EXPECT_EQ(response.getError(), "w");
}
