#include <zubdm/context/ZUBContextBuilder.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LogCapture.h"

using ZUB_DEVICE_MEDIATION::ZUBContextBuilder;
using Lines = std::vector<std::string>;

TEST(ZUBContextBuilder, AppendsTheCommandsTowardsTheRootOrRefusesWithOneLogLine) {
  const std::string refused = "context <config-if> refused: its argument or prefix holds a line break or NUL: ";
  const struct {
    const char* name;  // of the mode
    std::string argument;
    std::string prefix;
    Lines appended;      // after what the list held
    std::string logged;  // the one log line of a refusal ("": accepted)
  } rows[] = {
      {"root", "A", "P", {}, ""},
      {"", "A", "P", {"end"}, ""},
      {"config", "", "P", {"configure terminal", "end"}, ""},
      {"config", "A", "", {"configure terminal A", "end"}, ""},
      {"config-if", "A", "P", {"P interface A", "configure terminal", "end"}, ""},
      {"config-if", "", "P", {"P interface", "configure terminal", "end"}, ""},
      {"config-controller", "A", "P", {"controller A", "configure terminal", "end"}, ""},
      {"root ", "A", "P", {}, "context <root > not in table"},
      {"prompt", "", "", {}, "context <prompt> not in table"},  // the table's, not a mode
      {"config-if%s%n", "A", "P", {}, "context <config-if%s%n> not in table"},
      {"config-if", "A\nshutdown", "", {}, refused + "\"A\\nshutdown\""},
      {"config-if", "A", "no\r", {}, refused + "\"no\\r\""},
      {"config-if", std::string("A\0B", 3), "", {}, refused + "\"A\\0B\""},
  };
  const ZUBContextBuilder builder;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.logged.empty() ? row.name : row.logged);
    LogCapture log;
    Lines out = {"kept"}, expected = {"kept"};
    expected.insert(expected.end(), row.appended.begin(), row.appended.end());
    EXPECT_EQ(builder.getContextCLI(out, row.name, row.argument, row.prefix), row.logged.empty() ? 1 : 0);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(log.texts(), row.logged.empty() ? Lines{} : Lines{row.logged});
    for (const HostLogRecord& record : log.records())
      EXPECT_TRUE(record.severity == 3 && std::string(record.file) == "ZUBContextBuilder");
  }
  EXPECT_EQ(builder.knownContexts(), (Lines{"config", "config-controller", "config-if", "root"}));
}
