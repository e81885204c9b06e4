// Show output of any bytes, collected in pieces, parsed and searched.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzSupport.h"
#include "common/QOR_error.h"
#include "result/CliDomTree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string id = input.ConsumeRandomLengthString(16);
  const std::string item = input.ConsumeRandomLengthString(16);
  const std::string attribute = input.ConsumeRandomLengthString(16);
  const size_t pieces = input.ConsumeIntegralInRange<size_t>(1, 4);
  const bool again = input.ConsumeBool();

  CliDomTree tree;
  for (size_t i = 0; i + 1 < pieces; ++i) {
    tree.add_cli_output(
        input.ConsumeRandomLengthString(input.remaining_bytes()));
  }
  tree.add_cli_output(input.ConsumeRemainingBytesAsString());
  QOR_error error;
  tree.parse_cli(error);
  fuzzCheck(tree.pending_output().empty(),
            "every parse empties the collected output");
  fuzzCheck(error.entries.size() <= 1, "at most one error per parse");

  std::string value = "stale";
  const int found =
      tree.find_value(id.c_str(), item.c_str(), attribute.c_str(), value);
  fuzzCheck(found == 0 || found == 1, "find_value answers 0 or 1");
  fuzzCheck(found == 1 || value.empty(),
            "nothing found leaves the value empty");
  if (error.is_set()) fuzzCheck(found == 0, "no document after a failed parse");

  if (again) {
    // Blank output keeps the document; the same lookup gives the same answer.
    tree.add_cli_output(" \r\n\t");
    QOR_error blank;
    tree.parse_cli(blank);
    fuzzCheck(!blank.is_set(), "blank output is not parsed");
    std::string second;
    fuzzCheck(tree.find_value(id.c_str(), item.c_str(), attribute.c_str(),
                              second) == found &&
                  second == value,
              "the document stays across blank output");
  }
  return 0;
}
