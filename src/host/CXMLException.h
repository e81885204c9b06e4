#ifndef ZUBDM_HOST_CXMLEXCEPTION_H
#define ZUBDM_HOST_CXMLEXCEPTION_H

#include <zubdm/ZubdmExport.h>

#include <exception>
#include <string>

namespace TAV {
namespace XML {

// Thrown by DOMBuilder when its input is not a well-formed, acceptable
// document or cannot be read.
class ZUBDM_EXPORT CXMLException : public std::exception {
 public:
  explicit CXMLException(std::string message);

  // What went wrong and, for parse errors, where: "... at line L, column C".
  std::string GetMsg() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_CXMLEXCEPTION_H
