#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "result/CLIResponse.h"

namespace {

using ZUB_DEVICE_MEDIATION::CLIResponse;

TEST(CLIResponseAddError, JoinsEveryTextWithSeparatorUntilCleared) {
  CLIResponse response;
  response.addError("x");
  response.addError("y");
  EXPECT_EQ(response.getError(), "x ; y");
  response.addError("z");
  EXPECT_EQ(response.getError(), "x ; y ; z");
  response.addError("");
  EXPECT_EQ(response.getError(), "x ; y ; z ; ");

  response.clearError();
  response.addError("w");
  EXPECT_EQ(response.getError(), "w");
}

TEST(CLIResponseToString, RendersFieldsInOrderAndOverwritesOut) {
  struct Case {
    const char* name;
    const char* error;
    const char* context;
    bool timeout;
    std::vector<std::string> elements;
    const char* expected;
  };
  const Case cases[] = {
      {"empty",
       "",
       "",
       false,
       {},
       "Error= Response context=isTimeout=false "
       "ResponseList="},
      {"prompt and two elements",
       "",
       "HVB#",
       false,
       {"a", "b"},
       "Error= Response context=HVB#isTimeout=false ResponseList= -a -b"},
      {"error and timeout",
       "e1 ; e2",
       "HVB(config)#",
       true,
       {"x y\nz"},
       "Error=e1 ; e2 Response context=HVB(config)#isTimeout=true "
       "ResponseList= -x y\nz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLIResponse response;
    if (*c.error) response.addError(c.error);
    response.setRspContext(c.context);
    if (c.timeout) response.setTimeout();
    for (std::string element : c.elements) {
      response.addElement(element);
      EXPECT_FALSE(element.empty());  // the lvalue overload copies
    }
    std::string out = "previous contents";
    std::string& returned = response.toString(out);
    EXPECT_EQ(&returned, &out);
    EXPECT_EQ(out, c.expected);
  }
}

}  // namespace
