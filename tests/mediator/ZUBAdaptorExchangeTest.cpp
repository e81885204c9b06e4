#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mediator/ZUBAdaptor.h"
#include "result/CLIResponse.h"
#include "support/MediatorFixture.h"
#include "support/ScenarioBuilder.h"

using ZUB_DEVICE_MEDIATION::CLIResponse;
using ZUB_DEVICE_MEDIATION::ZUBAdaptor;

namespace {

using Lines = std::vector<std::string>;

class ZUBAdaptorExchange : public AdaptorFixture {};

}  // namespace

TEST_F(ZUBAdaptorExchange, RepliesAreClassifiedIntoContextOutputAndError) {
  struct Case {
    const char* name;
    std::string reply;
    std::string context;
    Lines elements;
    std::string error;
  } cases[] = {
      {"prompt alone", "HVB#", "HVB#", {""}, ""},
      {"plain output", "line 1\r\nline 2\r\nHVB(config)#", "HVB(config)#",
       {"line 1\r\nline 2\r\n"}, ""},
      {"error up to the prompt", "cmd\r\nError: bad input\r\nHVB#", "HVB#", {},
       "Error: bad input\r\n"},
      {"show output drops the echo", "show x\r\n<SHOW><OBJ id=\"1\"/></SHOW>\r\nHVB#",
       "HVB#", {"<SHOW><OBJ id=\"1\"/></SHOW>\r\n"}, ""},
      {"other output is kept whole", "Uptime < 1 day\r\nHVB<a>#", "HVB<a>#",
       {"Uptime < 1 day\r\n"}, ""},
      {"reply that is a prompt alone", "HVB<1>#", "HVB<1>#", {""}, ""},
      {"\"Error:\" in a show document is data",
       "<SHOW><OBJ id=\"A\"><info d=\"Error: x\"/></OBJ></SHOW>\r\nHVB#", "HVB#",
       {"<SHOW><OBJ id=\"A\"><info d=\"Error: x\"/></OBJ></SHOW>\r\n"}, ""},
      {"error in tagged output runs to its end", "<a>\r\nError: no\r\nmore\r\nHVB#",
       "HVB#", {}, "Error: no\r\nmore\r\n"},
      {"binary bytes and NULs", std::string("\x01\xff\0x\0\r\nHVB#", 11), "HVB#",
       {std::string("\x01\xff\0x\0\r\n", 7)}, ""},
  };
  ScenarioBuilder scenario;
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    scenario.reply("case" + std::to_string(i), cases[i].reply);
  }
  start(scenario.json());
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(cases[i].name);
    CLIResponse response;
    ASSERT_TRUE(adaptor_->send("case" + std::to_string(i), response));
    EXPECT_EQ(response.getRspContext(), cases[i].context);
    EXPECT_EQ(response.getResponseList(), cases[i].elements);
    EXPECT_EQ(response.getError(), cases[i].error);
    EXPECT_FALSE(response.isTimeout());
  }
  EXPECT_TRUE(logs_->records().empty());
}

TEST_F(ZUBAdaptorExchange, PromptLikeTextNeverShiftsLaterReplies) {
  struct Row {
    const char* command;
    std::string reply;   // what the CLI sends
    std::string output;  // the reply's output as stored
  } rows[] = {
      {"blank in the prompt", "out HVB x #tail\r\nHVB#", "out HVB x #tail\r\n"},
      {"echoed prompt in a line", "say HVB# now\r\nHVB#", "say HVB# now\r\n"},
      {"blank after the prompt", "one\r\nHVB# ", "one\r\n"},
      {"bytes after the prompt", "two\r\nHVB#junk\r\n", "two\r\n"},
      {"next", "three\r\nHVB#", "three\r\n"},
  };
  ScenarioBuilder scenario;
  for (const Row& row : rows) scenario.reply(row.command, row.reply);
  start(scenario.json());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    CLIResponse response;
    ASSERT_TRUE(adaptor_->send(row.command, response));
    EXPECT_EQ(response.getRspContext(), "HVB#");
    EXPECT_EQ(response.getResponseList(), Lines{row.output});
  }
  // Only the bytes that were more than blanks and line ends are reported.
  EXPECT_EQ(logs_->texts(), Lines{"dropped 4 bytes that the CLI sent after its prompt"});
}

TEST_F(ZUBAdaptorExchange, RepliesAccumulateUntilTheCallerClears) {
  start(ScenarioBuilder()
            .reply("a", "Error: a\r\nHVB#")
            .reply("b", "Error: b\r\nHVB(config)#")
            .reply("c", "text\r\nHVB#")
            .json());
  CLIResponse response;
  for (const char* command : {"a", "b", "c"}) ASSERT_TRUE(adaptor_->send(command, response));
  EXPECT_EQ(response.getError(), "Error: a\r\n ; Error: b\r\n");
  EXPECT_EQ(response.getResponseList(), Lines{"text\r\n"});
  EXPECT_EQ(response.getRspContext(), "HVB#");
}

TEST_F(ZUBAdaptorExchange, CommandLinesReachTheCliWholeAndInOrder) {
  start("");
  CLIResponse response;
  ASSERT_TRUE(adaptor_->send("configure terminal", response));
  ASSERT_TRUE(adaptor_->send("", response));
  ASSERT_TRUE(adaptor_->send("end", response));
  EXPECT_EQ(sim_->transcript(), (Lines{"configure terminal", "", "end"}));
  EXPECT_EQ(response.getRspContext(), "HVB#");
}

TEST_F(ZUBAdaptorExchange, TranscriptHasEveryByteInOrderWithThePasswordMasked) {
  using Direction = ZUBAdaptor::Direction;
  sim_->setScenario(ScenarioBuilder().reply("x", "out\r\nHVB#junk").json());
  ZUBAdaptor adaptor;
  std::string sent, received;
  adaptor.setTranscriptSink([&](Direction direction, std::string_view bytes) {
    (direction == Direction::ToCli ? sent : received).append(bytes);
  });
  ASSERT_TRUE(adaptor.connect());
  CLIResponse response;
  ASSERT_TRUE(adaptor.send("x", response));
  ASSERT_TRUE(adaptor.send("end", response));
  EXPECT_EQ(sent, "root\r\n****\r\nx\n\rend\n\r");
  // The bytes dropped after a prompt are in it too.
  EXPECT_EQ(received, "Login:Password:HVB#out\r\nHVB#junkHVB#");
}

TEST_F(ZUBAdaptorExchange, LineBreakOrNulIsRefusedBeforeAnythingIsWritten) {
  start("");
  for (const std::string& text : {std::string("show\nend"), std::string("a\rb"),
                                  std::string("a\0b", 3)}) {
    SCOPED_TRACE(text);
    logs_->clear();
    CLIResponse response;
    EXPECT_FALSE(adaptor_->send(text, response));
    EXPECT_EQ(adaptor_->getLastFailure(), ZUB_DEVICE_MEDIATION::FailureKind::Refused);
    ASSERT_EQ(logs_->texts().size(), 1u);
    EXPECT_EQ(logs_->texts()[0].rfind("Can't send command: it holds a line break or NUL: ", 0),
              0u);
  }
  EXPECT_TRUE(sim_->transcript().empty());
}

TEST_F(ZUBAdaptorExchange, SendingRequiresALogin) {
  ZUBAdaptor adaptor;
  CLIResponse response;
  EXPECT_FALSE(adaptor.send("show version", response));
  EXPECT_EQ(logs_->texts(), Lines{"Can't send command"});
}

TEST_F(ZUBAdaptorExchange, RootContextReportsTheCliError) {
  start(ScenarioBuilder().reply("end", "Error: cannot leave\r\nHVB(config)#").json());
  CLIResponse response;
  EXPECT_FALSE(adaptor_->setDeviceRootContext(response));
  EXPECT_EQ(response.getError(), "Error: cannot leave\r\n");
  EXPECT_FALSE(response.isTimeout());
}

TEST(ZUBAdaptorCheckError, ErrorTextRunsFromErrorToThePromptOrTheEnd) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"no problem HVB#", ""},
      {"x Error: bad\r\nHVB#", "Error: bad\r\n"},
      {"Error: at end", "Error: at end"},
      {"HVB# then Error: late", "Error: late"},
      {"Error:Error: twice HVB", "Error:Error: twice "},
  };
  SimulatorEnvironment sim;
  ZUBAdaptor adaptor;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(adaptor.checkError(c.text), c.expected);
  }
}
