// Show output of any bytes, collected in pieces: parsed and searched, and
// its values extracted (which splits it with ZubTokenParser).
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "FuzzSupport.h"
#include <zubdm/common/QOR_error.h>
#include <zubdm/result/CLIResult.h>
#include <zubdm/result/CliDomTree.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string id = input.ConsumeRandomLengthString(16);
  const std::string item = input.ConsumeRandomLengthString(16);
  const std::string attribute = input.ConsumeRandomLengthString(16);
  const std::string delimiters = input.ConsumeRandomLengthString(6);
  std::vector<std::string> pieces(input.ConsumeIntegralInRange<size_t>(0, 3));
  for (std::string& piece : pieces) piece = input.ConsumeRandomLengthString(input.remaining_bytes());
  pieces.push_back(input.ConsumeRemainingBytesAsString());

  CliDomTree tree;
  for (const std::string& piece : pieces) tree.add_cli_output(piece);
  QOR_error error;
  tree.parse_cli(error);
  fuzzCheck(tree.pending_output().empty() && error.entries.size() <= 1,
            "a parse empties the collected output and gives at most one error");
  std::string value = "stale";
  const int found = tree.find_value(id.c_str(), item.c_str(), attribute.c_str(), value);
  fuzzCheck((found == 1 && !error.is_set()) || (found == 0 && value.empty()),
            "found only in a parsed document; nothing found: 0 and an empty value");

  ZUB_DEVICE_MEDIATION::CLIResult result;
  result.appendMessageList(pieces);
  std::vector<std::string> values = {"kept"};
  const int count = result.getXMLValues(values, id, attribute, delimiters);
  fuzzCheck(count >= 0 && values.size() == 1 + static_cast<size_t>(count) && values.front() == "kept",
            "the values found are appended, and counted");
  for (size_t i = 1; i < values.size(); ++i) {
    fuzzCheck(values[i].find_first_of(delimiters + "<>") == std::string::npos,
              "a value holds no delimiter and stays inside one field");
  }
  return 0;
}
