#ifndef ZUBDM_RESULT_CLIRESULT_H
#define ZUBDM_RESULT_CLIRESULT_H

#include <zubdm/ZubdmExport.h>

#include <list>
#include <string>
#include <vector>

#include <zubdm/result/CliDomTree.h>
#include <zubdm/result/FailureKind.h>
#include <zubdm/result/OpStatusEnum.h>

namespace zubdm {
namespace internal {
class ShowParser;
class TextKeeper;
}  // namespace internal
}  // namespace zubdm

namespace ZUB_DEVICE_MEDIATION {

// What a forwarded command yields: its status, the output the CLI printed (in
// the pieces in which it arrived), the error texts, and a reader for the show
// document in the output.
//
// Starts as Failed with empty lists. Owns the reader and its document, so it
// is not copyable. Used by one thread at a time; holds no lock.
class ZUBDM_EXPORT CLIResult {
 public:
  CLIResult();
  ~CLIResult();
  CLIResult(const CLIResult&) = delete;
  CLIResult& operator=(const CLIResult&) = delete;

  void addError(const std::string& text);

  // Appends copies of `lines`, in order, to the message list.
  void appendMessageList(const std::vector<std::string>& lines);
  // Appends `lines`, in order, taking over their contents.
  void appendMessageList(std::vector<std::string>&& lines);
  // Appends copies of `lines`, in order, to the message list. Passing the
  // result's own message list changes nothing.
  void appendMessageList(const std::list<std::string>& lines);
  // Moves every entry of `lines`, in order, to the end of the message list
  // without copying. Passing the result's own message list changes nothing.
  void appendMessageList(std::list<std::string>&& lines);

  // Copies the ordinal and the name of `state`.
  void setState(const OpStatusEnum& state);

  // Appends `text` to the reader's collected output, with nothing between
  // successive pieces.
  void addXMLResult(const std::string& text);
  void addXMLResult(const std::vector<std::string>& lines);

  // Empties both lists, sets the state to Failed, the failure to none
  // and the prompt to empty. The reader (collected output and parsed
  // document) stays as it is.
  void clearAll();

  // Gives the reader the document of `parser`, which borrowed its values
  // from the last entry of the message list (CliDomTree::adopt); that
  // entry is kept for the document after the list is emptied or the result
  // ends. For the library's driver: not exported. Throws std::bad_alloc.
  ZUBDM_LOCAL void adoptDocument(zubdm::internal::ShowParser& parser, QOR_error& error);

  // Why the command failed (None when it did not).
  FailureKind getFailureKind() const { return failure_.kind; }
  void setFailureKind(FailureKind kind);
  // The whole record of it: the exchange's failure as the mediator made it,
  // or for a device error or a rejected mode command the CLI's words (text).
  const FailureRecord& getFailure() const { return failure_; }
  void setFailure(const FailureRecord& failure) { failure_ = failure; }
  // The prompt that ended the command's reply, which tells the mode the CLI
  // was left in; empty when no reply came.
  const std::string& getPrompt() const { return prompt_; }
  void setPrompt(const std::string& prompt) { prompt_ = prompt; }

  CliDomTree& getXMLResult();

  // The stored state, as set.
  const OpStatusEnum& getCurrentExecState() const;
  // The stored state after normalisation, which is stored: PartialSuccess,
  // and Failed without any error text, become Success.
  OpStatusEnum& getState();

  const std::vector<std::string>& getErrorList() const;
  // Each call writes a trace at severity 4.
  const std::list<std::string>& getMessageList() const;

  // "OpStatus :<state>\nMessage list: " then "<entry>\n\t" per message entry,
  // "\nError messages:" then "<text>\n\t" per error text. The state is shown
  // as stored.
  std::string toString() const;
  // Appends to `out` (not cleared): "OpStatus :<state>", "Message list: ",
  // every message entry, "Error messages:", every error text.
  void toPrettyPrint(std::vector<std::string>& out) const;

  // Scans the message list for the pieces between the angle brackets (the
  // text between tags counts as a piece too) that contain both `marker` and
  // `key`; from each such piece takes the text that starts one character
  // after the first `key` that does not continue a longer name (normally past
  // an equals sign) up to the first of `delimiters`, and appends it to
  // `values`. A piece that ends with `key` yields nothing. Returns the number
  // appended.
  int getXMLValues(std::vector<std::string>& values, const std::string& marker,
                   const std::string& key, const std::string& delimiters) const;

 private:
  OpStatusEnum state_;
  std::vector<std::string> errorList_;
  std::list<std::string> messageList_;
  CliDomTree xmlResult_;
  FailureRecord failure_;
  std::string prompt_;

  // Moves each message a document still reads from to its keeper, and
  // drops the keepers.
  void keepLentMessages() noexcept;
  // A message that a document reads its values from, and its keeper.
  struct Lent {
    std::list<std::string>::iterator message;
    zubdm::internal::TextKeeper* keeper;
  };
  std::vector<Lent> lent_;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_RESULT_CLIRESULT_H
