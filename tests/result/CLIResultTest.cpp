#include <zubdm/result/CLIResult.h>

#include <zubdm/result/ShowParser.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using ZUB_DEVICE_MEDIATION::CLIResult;
using Lines = std::vector<std::string>;

TEST(CLIResultGetState, PartialSuccessAndErrorlessFailedReadAndStayAsSuccess) {
  struct Row {
    const OpStatusEnum* stored;    // as set
    bool withError;                // an error entry was added
    const OpStatusEnum* reported;  // getState(), and stored from then on
  } rows[] = {
      {&OpStatusEnum::Failed, false, &OpStatusEnum::Success},
      {&OpStatusEnum::Failed, true, &OpStatusEnum::Failed},
      {&OpStatusEnum::PartialSuccess, true, &OpStatusEnum::Success},
      {&OpStatusEnum::TimedOut, false, &OpStatusEnum::TimedOut},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored->toString() + (row.withError ? " with an error" : ""));
    CLIResult result;
    result.setState(*row.stored);
    if (row.withError) result.addError("Error: bad");
    EXPECT_EQ(result.getState().toString(), row.reported->toString());
    EXPECT_EQ(result.getCurrentExecState().toString(), row.reported->toString());
  }
}

TEST(CLIResultClearAll, KeepsTheDocumentParsedFromTheMessageList) {
  CLIResult result;
  result.appendMessageList(Lines{"<SHOW><OBJ id=\"A\"><port admin=\"up\"/></OBJ></SHOW>"});
  QOR_error error;
  result.getXMLResult().parse_cli(result.getMessageList().front(), error);
  // The output's text goes; the document holds its own copy of what it needs.
  result.clearAll();
  EXPECT_TRUE(result.getMessageList().empty());
  std::string admin;
  EXPECT_EQ(result.getXMLResult().find_value("A", "port", "admin", admin), 1);
  EXPECT_EQ(admin, "up");
}

TEST(CLIResultGetXMLValues, TakesTheValueOneCharacterAfterTheKeyInFieldsWithTheMarker) {
  struct Row {
    const char* name;
    Lines messages;  // searched for marker "OBJ", key "a", values ending at ", ' or a blank
    Lines values;    // appended after "kept"
  } rows[] = {
      {"key without the marker", {"<ITEM a=\"up\"/>"}, {}},
      {"marker without the key", {"<OBJ id=\"1\"/>"}, {}},
      {"key ends the field", {"<OBJ a>"}, {}},
      {"one character after the key", {"<OBJ a=>"}, {""}},
      {"not the key inside a longer name", {"<OBJ data=\"x\" ab=\"y\" a=\"5\">"}, {"5"}},
      {"fields and messages in order",
       {"text <OBJ a=\"1\"><OBJ a=\"2\"> <ITEM a=\"0\">", "<OBJ a='3 4'>"}, {"1", "2", "3"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CLIResult result;
    result.appendMessageList(row.messages);
    Lines values = {"kept"};
    EXPECT_EQ(result.getXMLValues(values, "OBJ", "a", "\"' "), static_cast<int>(row.values.size()));
    EXPECT_EQ(values.front(), "kept");
    EXPECT_EQ(Lines(values.begin() + 1, values.end()), row.values);
  }
}

TEST(CLIResultClearAll, EmptiesWhatACommandLeftButTheShowDocument) {
  CLIResult result;
  QOR_error error;
  result.getXMLResult().parse_cli("<SHOW><OBJ id=\"A\"><port admin=\"up\"/></OBJ></SHOW>", error);
  result.appendMessageList(Lines{"out"});
  result.addError("Error: x");
  result.setState(OpStatusEnum::PartialSuccess);
  result.setFailureKind(ZUB_DEVICE_MEDIATION::FailureKind::DeviceError);
  result.setPrompt("HVB#");
  result.clearAll();
  std::string admin;
  EXPECT_TRUE(result.getMessageList().empty() && result.getErrorList().empty() &&
              result.getPrompt().empty());
  EXPECT_EQ(result.getCurrentExecState().toString(), "Failed");
  EXPECT_EQ(result.getFailureKind(), ZUB_DEVICE_MEDIATION::FailureKind::None);
  EXPECT_TRUE(result.getXMLResult().find_value("A", "port", "admin", admin) == 1 && admin == "up");
}

// Values a document borrows from the reply are read from the result's
// message, which the document keeps once the list is emptied. Run under
// ASan, a view of freed text is caught.
TEST(CLIResultAdoptDocument, BorrowedValuesOutliveTheMessageListAndTheResult) {
  const std::string output =
      "<SHOW>\r\n<OBJ id=\"object-one\"><data plain=\"0123456789 long enough to be borrowed\" "
      "coded=\"one &amp; two, long enough to be borrowed\" spread=\"a\tb, long enough to be "
      "borrowed too\"/></OBJ>\r\n</SHOW>\r\n";
  struct Row {
    const char* attribute;  // of <data> in object-one
    const char* value;      // as read
  } rows[] = {
      {"plain", "0123456789 long enough to be borrowed"},  // borrowed
      {"coded", "one & two, long enough to be borrowed"},  // decoded: copied
      {"spread", "a b, long enough to be borrowed too"},   // a tab made a blank: copied
  };
  {
    auto* result = new CLIResult;
    result->appendMessageList(Lines{output});
    zubdm::internal::ShowParser parser;
    parser.borrowValues(true);
    // In small pieces, as a reply arrives.
    for (size_t at = 0; at < output.size(); at += 7) {
      parser.feed(output.data() + at, std::min<size_t>(7, output.size() - at));
    }
    QOR_error error;
    result->adoptDocument(parser, error);
    ASSERT_FALSE(error.is_set());
    result->clearAll();
    ASSERT_TRUE(result->getMessageList().empty());
    for (const Row& row : rows) {
      SCOPED_TRACE(row.attribute);
      std::string value;
      EXPECT_EQ(result->getXMLResult().find_value("object-one", "data", row.attribute, value), 1);
      EXPECT_EQ(value, row.value);
    }
    delete result;
  }
}

TEST(CLIResultAdoptDocument, OutputNotHoldingTheDocumentFailsTheParse) {
  CLIResult result;
  // The same length and frame, other bytes.
  result.appendMessageList(
      Lines{"<SHOW><OBJ id=\"object-two, long enough to be borrowed\"/></SHOW>"});
  zubdm::internal::ShowParser parser;
  parser.borrowValues(true);
  const std::string fed = "<SHOW><OBJ id=\"object-one, long enough to be borrowed\"/></SHOW>";
  parser.feed(fed.data(), fed.size());
  QOR_error error;
  result.adoptDocument(parser, error);
  EXPECT_TRUE(error.is_set());
  std::string value;
  EXPECT_EQ(result.getXMLResult().find_value("object-one, long enough to be borrowed", "x", "y",
                                             value),
            0);
}
