#include <zubdm/mediator/ReplyClassifier.h>

namespace zubdm {
namespace internal {

std::string ReplyClassifier::checkError(std::string_view text, const CliDialect& rules) {
  const size_t start = rules.errorStart(text);
  if (start == std::string_view::npos) return std::string();
  const size_t prompt = dialect::atLineStart(text, dialect::kPromptStart, start + 1);
  return std::string(text.substr(start, prompt == std::string_view::npos ? prompt : prompt - start));
}

size_t ReplyClassifier::store(std::string output, const std::string& prompt, const CliDialect& rules,
                              ZUB_DEVICE_MEDIATION::CLIResponse& response) {
  response.setRspContext(prompt);
  const size_t error = rules.errorStart(output);
  if (error != std::string::npos) {
    response.addError(output.substr(error));
    return std::string::npos;
  }
  // Show output is kept from its document on; other output is kept whole.
  const size_t document = dialect::showStart(output);
  if (document != std::string::npos) output.erase(0, document);
  response.addElement(std::move(output));
  return document;
}

}  // namespace internal
}  // namespace zubdm
