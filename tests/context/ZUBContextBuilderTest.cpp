#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context/ZUBContextBuilder.h"
#include "support/LogCapture.h"

namespace {

using ZUB_DEVICE_MEDIATION::ZUBContextBuilder;

TEST(ZUBContextBuilderGetContextCLI, KnownNamesAppendCommandsTowardsRoot) {
  struct Case {
    const char* name;
    const char* argument;
    const char* prefix;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"root", "A", "P", {}},
      {"", "A", "P", {"end"}},
      {"config", "", "P", {"configure terminal", "end"}},
      {"config", "A", "", {"configure terminal A", "end"}},
      {"config-if", "A", "", {"interface A", "configure terminal", "end"}},
      {"config-if", "A", "P", {"P interface A", "configure terminal", "end"}},
      {"config-if", "", "P", {"P interface", "configure terminal", "end"}},
      {"config-controller",
       "A",
       "P",
       {"controller A", "configure terminal", "end"}},
      {"prompt", "", "", {""}},
  };
  const ZUBContextBuilder builder;
  LogCapture log;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("<") + c.name + "> <" + c.argument + "> <" +
                 c.prefix + ">");
    // Commands go after what the list already holds.
    std::vector<std::string> out = {"kept"};
    EXPECT_EQ(builder.getContextCLI(out, c.name, c.argument, c.prefix), 1);
    std::vector<std::string> expected = {"kept"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(out, expected);
  }
  EXPECT_TRUE(log.records().empty());
}

TEST(ZUBContextBuilderGetContextCLI, UnknownNameAppendsNothingAndLogsOnce) {
  const char* const names[] = {"show",   "root ",   "Root",
                               "CONFIG", " config", "config-if%s%n"};
  const ZUBContextBuilder builder;
  for (const char* name : names) {
    SCOPED_TRACE(name);
    LogCapture log;
    std::vector<std::string> out = {"kept"};
    EXPECT_EQ(builder.getContextCLI(out, name, "A", "P"), 0);
    EXPECT_EQ(out, std::vector<std::string>{"kept"});
    const std::vector<HostLogRecord> records = log.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text,
              std::string("context <") + name + "> not in table");
    EXPECT_EQ(records[0].severity, 3u);
    EXPECT_STREQ(records[0].file, "ZUBContextBuilder");
    EXPECT_STREQ(records[0].function, "getContextCLI");
  }
}

TEST(ZUBContextBuilderGetContextCLI, LineBreakOrNulInArgumentOrPrefixIsRefused) {
  const struct {
    std::string argument;
    std::string prefix;
    const char* logged;  // the refused text, as quoted in the log line
  } cases[] = {
      {"A\nshutdown", "", "\"A\\nshutdown\""},
      {"A", "no\r", "\"no\\r\""},
      {std::string("A\0B", 3), "", "\"A\\0B\""},
  };
  const ZUBContextBuilder builder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    LogCapture log;
    std::vector<std::string> out = {"kept"};
    EXPECT_EQ(builder.getContextCLI(out, "config-if", c.argument, c.prefix), 0);
    EXPECT_EQ(out, std::vector<std::string>{"kept"});
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{
                  std::string("context <config-if> refused: its argument or prefix "
                              "holds a line break or NUL: ") + c.logged});
  }
}

TEST(ZUBContextBuilderKnownContexts, ListsEveryModeButNotThePromptEntry) {
  const ZUBContextBuilder builder;
  const std::vector<std::string> names = builder.knownContexts();
  EXPECT_EQ(names, (std::vector<std::string>{"config", "config-controller",
                                             "config-if", "root"}));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::vector<std::string> out;
    EXPECT_EQ(builder.getContextCLI(out, name, "", ""), 1);
  }
}

}  // namespace
