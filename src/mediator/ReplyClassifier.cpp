#include <zubdm/mediator/ReplyClassifier.h>

namespace zubdm {
namespace internal {

std::string ReplyClassifier::checkError(std::string_view text, const CliDialect& rules) {
  const size_t start = rules.errorStart(text);
  if (start == std::string_view::npos) return std::string();
  const size_t prompt = dialect::atLineStart(text, dialect::kPromptStart, start + 1);
  return std::string(text.substr(start, prompt == std::string_view::npos ? prompt : prompt - start));
}

void ReplyClassifier::store(std::string_view reply, size_t output, size_t prompt,
                            const CliDialect& rules, ZUB_DEVICE_MEDIATION::CLIResponse& response) {
  response.setRspContext(std::string(reply.substr(prompt)));
  std::string_view text = reply.substr(output, prompt - output);
  const size_t error = rules.errorStart(text);
  if (error != std::string_view::npos) {
    response.addError(std::string(text.substr(error)));
    return;
  }
  // Show output is kept from its document on; other output is kept whole.
  const size_t document = dialect::showDocument(text).begin;
  if (document != std::string_view::npos) text.remove_prefix(document);
  response.addElement(std::string(text));
}

}  // namespace internal
}  // namespace zubdm
