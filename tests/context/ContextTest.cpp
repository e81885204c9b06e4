#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context/Context.h"

namespace {

TEST(ContextCopy, CopyCarriesPromptsAndChangesStayApart) {
  Context original("config-if", "config", "interface", true);
  original.pushPrompt("p1");
  original.pushPrompt("p2");

  Context copy(original);
  EXPECT_EQ(copy.getPrompts(), (std::vector<std::string>{"p1", "p2"}));
  copy.pushPrompt("p3");
  copy.init("other", "root", "enter");
  EXPECT_TRUE(copy.isNoTx());  // init leaves the flag alone
  copy.initTx("other", "root", "enter", false);
  EXPECT_FALSE(copy.isNoTx());
  EXPECT_EQ(copy.getPrompts(), (std::vector<std::string>{"p1", "p2", "p3"}));

  Context assigned;
  assigned = original;
  assigned.pushPrompt("p4");

  EXPECT_EQ(original.getTopContext(), "config-if");
  EXPECT_EQ(original.getNextContext(), "config");
  EXPECT_EQ(original.getChangeContextCLI(), "interface");
  EXPECT_TRUE(original.isNoTx());
  EXPECT_EQ(original.getPrompts(), (std::vector<std::string>{"p1", "p2"}));
}

}  // namespace
