#ifndef ZUBDM_RESULT_CLIRESPONSE_H
#define ZUBDM_RESULT_CLIRESPONSE_H

#include <zubdm/ZubdmExport.h>

#include <string>
#include <vector>

namespace ZUB_DEVICE_MEDIATION {

// The raw record of one exchange with the CLI: the output pieces in the order
// the reply parser delivered them, the prompt at which the reply ended, every
// error text of the exchange joined by " ; ", and a timeout and a
// response-end flag.
//
// A plain value; used by one thread at a time.
class ZUBDM_EXPORT CLIResponse {
 public:
  CLIResponse();

  void setRspContext(const std::string& context);
  const std::string& getRspContext() const;

  // Stores `text`, or, when an error is already held, appends " ; " and
  // `text` to it. Nothing is dropped or de-duplicated.
  void addError(const std::string& text);
  const std::string& getError() const;
  void clearError();

  // Appends a copy of `element` to the response list.
  void addElement(std::string& element);
  // Appends `element`, taking over its contents.
  void addElement(std::string&& element);
  const std::vector<std::string>& getResponseList() const;
  // Hands the response list over to the caller, leaving it empty.
  std::vector<std::string> takeResponseList();
  bool isRspListEmpty() const;

  void setTimeout();
  void resetTimeout();
  bool isTimeout() const;
  void setResponseEnd();
  bool isResponseEnd() const;

  // Returns the record to the state of a new one.
  void clearAll();

  // Overwrites `out` with "Error=<error> Response context=<prompt>isTimeout=
  // <true|false> ResponseList=" followed by " -<element>" per element, and
  // returns `out`.
  std::string& toString(std::string& out) const;

 private:
  std::vector<std::string> responseList_;
  std::string rspContext_;
  std::string error_;
  bool timeout_;
  bool responseEnd_;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_RESULT_CLIRESPONSE_H
