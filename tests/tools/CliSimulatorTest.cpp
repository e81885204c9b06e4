// The simulator driven through the library itself: what a host sees of it.
// Canned replies, split writes and the reply faults are exercised by the
// mediator's and the controller's tests; these cover the simulator's own
// modes, commands and show documents.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mediator/ZUBAdaptor.h"
#include "result/CLIResponse.h"
#include "result/CliDomTree.h"
#include "support/MediatorFixture.h"

using ZUB_DEVICE_MEDIATION::CLIResponse;
using ZUB_DEVICE_MEDIATION::ZUBAdaptor;

namespace {

class CliSimulator : public AdaptorFixture {
 protected:
  void start(const std::string& scenario = "") { AdaptorFixture::start(scenario); }
  // The reply to `line`: its prompt, output and error.
  CLIResponse send(const std::string& line) {
    CLIResponse response;
    EXPECT_TRUE(adaptor_->send(line, response)) << line;
    return response;
  }
  std::string output(const std::string& line) {
    const CLIResponse response = send(line);
    return response.isRspListEmpty() ? "" : response.getResponseList()[0];
  }
};

}  // namespace

TEST_F(CliSimulator, ModesPromptsAndErrorsFollowTheModeTable) {
  start();
  struct Step {
    std::string line;
    const char* prompt;
    bool error;
  } steps[] = {
      {"7 configure terminal", "HVB(config)#", false},
      {"interface A", "HVB(config-if)#", false},
      {"interface B", "HVB(config-if)#", true},  // only from config
      {"hostname x", "HVB(config-if)#", true},
      {"exit", "HVB(config)#", false},
      {"controller X", "HVB(config-controller)#", false},
      {"shutdown", "HVB(config-controller)#", true},
      {"end", "HVB#", false},
      {"shutdown", "HVB#", true},
      {"exit", "HVB#", false},
      {"c", "HVB(config)#", false},
      {"12 ", "HVB(config)#", false},
      {"say HVB# now", "HVB(config)#", true},  // never echoes a prompt
      {"show version", "HVB(config)#", false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.line);
    const CLIResponse response = send(step.line);
    EXPECT_EQ(response.getRspContext(), step.prompt);
    EXPECT_EQ(response.getError().rfind("Error: ", 0) == 0, step.error) << response.getError();
  }
  EXPECT_EQ(sim_->transcript().back(), "show version");
}

TEST_F(CliSimulator, ShowInterfacesReflectsChangesAndEscapesText) {
  start();
  for (const char* line : {"configure terminal", "interface B", "shutdown",
                           "description a&b <c> \"HVB\"", "exit", "interface Z7", "end"}) {
    send(line);
  }
  CliDomTree tree;
  tree.add_cli_output(output("show interfaces"));
  QOR_error error;
  tree.parse_cli(error);
  ASSERT_FALSE(error.is_set()) << error.entries[0].text;
  const struct {
    const char *object, *item, *attribute, *value;
  } lookups[] = {
      {"A", "port", "admin", "up"},   {"B", "port", "admin", "down"},
      {"B", "port", "oper", "down"},  {"Z7", "port", "speed", "1000"},
      {"B", "info", "description", "a&b <c> \"HVB\""},
  };
  for (const auto& lookup : lookups) {
    SCOPED_TRACE(lookup.object);
    std::string value;
    EXPECT_EQ(tree.find_value(lookup.object, lookup.item, lookup.attribute, value), 1);
    EXPECT_EQ(value, lookup.value);
  }
}

TEST_F(CliSimulator, GeneratedDocumentsHaveTheRequestedSize) {
  start();
  EXPECT_EQ(output("show objects 0"), "<SHOW>\r\n</SHOW>\r\n");
  CliDomTree tree;
  tree.add_cli_output(output("show objects 3"));
  QOR_error error;
  tree.parse_cli(error);
  std::string value;
  EXPECT_EQ(tree.find_value("obj3", "counters", "tx", value), 1);
  EXPECT_EQ(value, "2003");
  for (const auto& size : {std::make_pair("1000", 1000ul), std::make_pair("64K", 64ul << 10),
                           std::make_pair("3M", 3ul << 20), std::make_pair("64M", 64ul << 20)}) {
    SCOPED_TRACE(size.first);
    const std::string document = output(std::string("show bulk ") + size.first);
    EXPECT_EQ(document.rfind("<SHOW", 0), 0u);
    EXPECT_GE(document.size(), size.second * 97 / 100);
    EXPECT_LE(document.size(), size.second * 103 / 100);
  }
  // Objects 1-9 take 77 bytes, 10-99 take 79: 983 bytes inside the frame
  // hold objects 1 to 12 and 53 blanks.
  const std::string small = output("show elements 1000");
  EXPECT_EQ(small.size(), 1000u);
  tree.add_cli_output(small);
  tree.parse_cli(error);
  ASSERT_FALSE(error.is_set()) << error.entries[0].text;
  EXPECT_EQ(tree.find_value("12", "ITEM", "a", value), 1);
  EXPECT_EQ(value, "v12");
  EXPECT_EQ(tree.find_value("13", "ITEM", "a", value), 0);
  EXPECT_EQ(output("show elements 3M").size(), 3u << 20);
}

TEST_F(CliSimulator, ScenarioRepliesEchoAndPromptSuffix) {
  start(R"({"echo": true, "prompt_suffix": " ",
            "commands": {"show version": {"reply": "custom\r\n"},
                         "go": {"then_mode": "config-if"}}})");
  CLIResponse response = send("12 configure terminal");
  // The blank after each prompt is dropped before the next command.
  EXPECT_EQ(response.getResponseList()[0], "12 configure terminal\r\n");
  EXPECT_EQ(output("show version"), "show version\r\ncustom\r\n");
  EXPECT_EQ(send("go").getRspContext(), "HVB(config-if)#");
  EXPECT_EQ(output("end"), "end\r\n");
}

TEST_F(CliSimulator, BadScenarioStopsTheCliAtOnce) {
  sim_->setScenario(R"({"commands": {"x": {"reply": 5}}})");
  ZUBAdaptor adaptor;
  adaptor.setConnectTimeout(std::chrono::milliseconds(3000));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(adaptor.connect());
  EXPECT_LT(elapsedMs(start), 2000);
}
