#ifndef ZUBDM_MEDIATOR_REPLYCLASSIFIER_H
#define ZUBDM_MEDIATOR_REPLYCLASSIFIER_H

#include <string>
#include <string_view>

#include <zubdm/common/CliDialect.h>
#include <zubdm/result/CLIResponse.h>

namespace zubdm {
namespace internal {

// Splits one CLI reply into its prompt, its output text and its error text,
// by lines (see CliDialect): a device error is a line that starts with one
// of the dialect's markers outside the show document; the document begins
// with "<SHOW" at a line start.
//
// Works on memory only: the mediator reads a reply up to the "#" that closes
// its prompt and hands it here, and tests and fuzzing drive the same code
// without a CLI. Stateless; safe on any thread.
class ReplyClassifier {
 public:
  // The error text of `text` (output, maybe followed by its prompt): from
  // its first error line up to the prompt that starts a later line, or to
  // the end. Empty when there is none.
  static std::string checkError(std::string_view text, const CliDialect& rules);

  // Stores one reply in `response`: its `prompt` as the context; then its
  // `output` (what came between the echo and the prompt) as one element,
  // from its show document on when it holds one, else whole; or instead the
  // error text, which runs from the first error line to the prompt. The
  // output is moved, never copied. Returns where in `output` the stored
  // show document began; npos when none was stored.
  static size_t store(std::string output, const std::string& prompt, const CliDialect& rules,
                      ZUB_DEVICE_MEDIATION::CLIResponse& response);
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_REPLYCLASSIFIER_H
