#ifndef ZUBDM_MEDIATOR_REPLYCLASSIFIER_H
#define ZUBDM_MEDIATOR_REPLYCLASSIFIER_H

#include <string>
#include <string_view>

#include "result/CLIResponse.h"

namespace ZUB_DEVICE_MEDIATION {

// Splits one CLI reply into its prompt, its output text and its error text.
//
// Works on memory only: the mediator reads a reply from the CLI's pipe up to
// the "#" that closes its prompt and hands it here, and tests and fuzzing
// can drive the same code without a CLI. Stateless; safe on any thread.
class ReplyClassifier {
 public:
  // The text from the first "Error:" up to the first "HVB", or to the end
  // when there is no "HVB" or it lies before the "Error:". Empty when the
  // text holds no "Error:".
  static std::string checkError(const std::string& text);

  // Stores `reply` (every byte of one reply, ending with its prompt, whose
  // first "HVB" begins at `prompt`) in `response`: the prompt, or the whole
  // reply when it begins with one and holds a "<", as the context; then the
  // output text before the prompt as one element (tagged output from its
  // first "<" on), or instead the error text when the output carries an
  // "Error:". Only what the response keeps is copied.
  static void store(std::string_view reply, size_t prompt, CLIResponse& response);

  // The same, finding the prompt itself; a reply without "HVB" (never read
  // as one) counts as output with an empty prompt.
  static void store(std::string_view reply, CLIResponse& response);
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_MEDIATOR_REPLYCLASSIFIER_H
