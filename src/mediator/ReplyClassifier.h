#ifndef ZUBDM_MEDIATOR_REPLYCLASSIFIER_H
#define ZUBDM_MEDIATOR_REPLYCLASSIFIER_H

#include <string>
#include <string_view>

#include <zubdm/result/CLIResponse.h>

namespace zubdm {
namespace internal {

// Splits one CLI reply into its prompt, its output text and its error text.
//
// Works on memory only: the mediator reads a reply up to the "#" that closes
// its prompt and hands it here, and tests and fuzzing drive the same code
// without a CLI. Stateless; safe on any thread.
class ReplyClassifier {
 public:
  // The text from the first "Error:" outside a show document ("<SHOW" up
  // to "</SHOW>", or to the end when it is cut short) up to the first "HVB",
  // or to the end when there is no "HVB" or it lies before the "Error:".
  // Empty when there is no such "Error:".
  static std::string checkError(std::string_view text);

  // Stores `reply` (every byte of one reply, ending with its prompt, which
  // begins at `prompt`) in `response`: the prompt as the context; then the
  // output before the prompt as one element (from its first "<SHOW" on
  // when it holds one, else whole), or instead the error text when the
  // output carries an "Error:" outside its show document. Only what the
  // response keeps is copied.
  static void store(std::string_view reply, size_t prompt,
                    ZUB_DEVICE_MEDIATION::CLIResponse& response);
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_REPLYCLASSIFIER_H
