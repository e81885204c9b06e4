#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "common/QOR_error.h"
#include "result/CLIResult.h"
#include "support/LogCapture.h"

namespace {

using ZUB_DEVICE_MEDIATION::CLIResult;

std::vector<std::string> messages(const CLIResult& result) {
  const std::list<std::string>& list = result.getMessageList();
  return std::vector<std::string>(list.begin(), list.end());
}

TEST(CLIResultGetState, ReportsPartialSuccessAndErrorlessFailedAsSuccess) {
  struct Case {
    const OpStatusEnum& state;
    bool withError;
    const OpStatusEnum& expected;
  };
  const Case cases[] = {
      {OpStatusEnum::Failed, false, OpStatusEnum::Success},
      {OpStatusEnum::Failed, true, OpStatusEnum::Failed},
      {OpStatusEnum::PartialSuccess, false, OpStatusEnum::Success},
      {OpStatusEnum::PartialSuccess, true, OpStatusEnum::Success},
      {OpStatusEnum::Success, true, OpStatusEnum::Success},
      {OpStatusEnum::TimedOut, false, OpStatusEnum::TimedOut},
      {OpStatusEnum::TimedOut, true, OpStatusEnum::TimedOut},
      {OpStatusEnum::Submitted, false, OpStatusEnum::Submitted},
      {OpStatusEnum::InProgress, true, OpStatusEnum::InProgress},
      {OpStatusEnum::Uninitialized, false, OpStatusEnum::Uninitialized},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state.toString() + (c.withError ? " with error" : ""));
    CLIResult result;
    result.setState(c.state);
    if (c.withError) result.addError("Error: bad");
    EXPECT_EQ(result.getCurrentExecState().toString(), c.state.toString());
    EXPECT_EQ(result.getState().toString(), c.expected.toString());
    // The normalisation is stored.
    EXPECT_EQ(result.getCurrentExecState().toString(), c.expected.toString());
    EXPECT_TRUE(result.getCurrentExecState().equals(c.expected));
  }
}

TEST(CLIResultRender, RendersStoredStateMessagesAndErrors) {
  CLIResult fresh;
  std::vector<std::string> lines = {"kept"};
  fresh.toPrettyPrint(lines);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"kept", "OpStatus :Failed",
                                      "Message list: ", "Error messages:"}));
  EXPECT_EQ(fresh.toString(),
            "OpStatus :Failed\nMessage list: \nError messages:");

  CLIResult filled;
  filled.setState(OpStatusEnum::Success);
  filled.appendMessageList(std::vector<std::string>{"a", "b\nc"});
  EXPECT_EQ(filled.toString(),
            "OpStatus :Success\nMessage list: a\n\tb\nc\n\t\nError messages:");
  filled.addError("e1");
  filled.addError("e2");
  EXPECT_EQ(filled.toString(),
            "OpStatus :Success\nMessage list: a\n\tb\nc\n\t\nError "
            "messages:e1\n\te2\n\t");
  lines.clear();
  filled.toPrettyPrint(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"OpStatus :Success",
                                             "Message list: ", "a", "b\nc",
                                             "Error messages:", "e1", "e2"}));
}

TEST(CLIResultAppendMessageList, ConstantsAreCopiedTemporariesMovedInOrder) {
  CLIResult result;
  result.appendMessageList(std::vector<std::string>{"first"});

  const std::vector<std::string> vector = {"v1", "v2"};
  result.appendMessageList(vector);
  EXPECT_EQ(vector, (std::vector<std::string>{"v1", "v2"}));

  // A list passed as a constant may be defined const: it is copied.
  const std::list<std::string> list = {"l1", "l2"};
  result.appendMessageList(list);
  EXPECT_EQ(list, (std::list<std::string>{"l1", "l2"}));

  std::list<std::string> temporary = {"r1"};
  const std::string* const node = &temporary.front();
  result.appendMessageList(std::move(temporary));

  LogCapture log;
  const std::list<std::string>& held = result.getMessageList();
  EXPECT_EQ(&*std::next(held.begin(), 5), node);  // moved, not copied
  result.appendMessageList(held);                 // its own list: no change
  EXPECT_EQ(messages(result),
            (std::vector<std::string>{"first", "v1", "v2", "l1", "l2", "r1"}));

  // Each getMessageList call leaves one trace.
  const std::vector<HostLogRecord> records = log.records();
  ASSERT_EQ(records.size(), 2u);
  for (const HostLogRecord& record : records) {
    EXPECT_EQ(record.text, "CLIResult::getMessageList()");
    EXPECT_EQ(record.severity, 4u);
    EXPECT_STREQ(record.file, "CLIResult");
    EXPECT_STREQ(record.function, "getMessageList");
  }
}

TEST(CLIResultClearAll, ResetsStateAndListsButKeepsTheReader) {
  CLIResult result;
  result.addXMLResult(
      "show x\n<SHOW><OBJ id=\"1\"><ITEM state=\"up\"/></OBJ></SHOW>\nHVB#");
  QOR_error error;
  result.getXMLResult().parse_cli(error);
  ASSERT_FALSE(error.is_set());
  result.addXMLResult("pending");
  result.setState(OpStatusEnum::PartialSuccess);
  result.addError("e");
  result.appendMessageList(std::vector<std::string>{"m"});

  result.clearAll();
  EXPECT_EQ(result.getCurrentExecState().toString(), "Failed");
  EXPECT_TRUE(result.getErrorList().empty());
  EXPECT_TRUE(result.getMessageList().empty());
  EXPECT_EQ(result.getXMLResult().pending_output(), "pending");
  std::string value;
  EXPECT_EQ(result.getXMLResult().find_value("1", "ITEM", "state", value), 1);
  EXPECT_EQ(value, "up");
}

TEST(CLIResultGetXMLValues, TakesValueAfterFirstKeyInMarkedFields) {
  struct Case {
    const char* name;
    std::vector<std::string> messages;
    const char* marker;
    const char* key;
    const char* delimiters;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"no messages", {}, "OBJ", "state", "\"", {}},
      {"attribute value",
       {"<OBJ id=\"1\" state=\"up\"/>"},
       "OBJ",
       "state",
       "\"",
       {"up"}},
      {"key without marker",
       {"<ITEM state=\"up\"/>"},
       "OBJ",
       "state",
       "\"",
       {}},
      {"marker without key", {"<OBJ id=\"1\"/>"}, "OBJ", "state", "\"", {}},
      {"key ends the field", {"<OBJ state>"}, "OBJ", "state", "\"", {}},
      {"key ends the entry", {"OBJ state"}, "OBJ", "state", "\"", {}},
      {"one character after key", {"<OBJ state=>"}, "OBJ", "state", "\"", {""}},
      {"only delimiters after key",
       {"<OBJ state=\"\">"},
       "OBJ",
       "state",
       "\"",
       {""}},
      {"first occurrence inside another word",
       {"<OBJ upstate=\"x\" state=\"y\">"},
       "OBJ",
       "state",
       "\"",
       {"x"}},
      {"fields and entries in order",
       {"text <OBJ a=\"1\"><OBJ a=\"2\"> <ITEM a=\"0\">", "<OBJ a='3'>"},
       "OBJ",
       "a",
       "\"'",
       {"1", "2", "3"}},
      {"several delimiters",
       {"<OBJ name=\"eth 0\">"},
       "OBJ",
       "name",
       "\" ",
       {"eth"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLIResult result;
    result.appendMessageList(c.messages);
    std::vector<std::string> values = {"kept"};
    EXPECT_EQ(result.getXMLValues(values, c.marker, c.key, c.delimiters),
              static_cast<int>(c.expected.size()));
    std::vector<std::string> expected = {"kept"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(values, expected);
  }
}

}  // namespace
