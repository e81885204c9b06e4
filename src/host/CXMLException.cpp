#include <zubdm/host/CXMLException.h>

#include <utility>

namespace TAV {
namespace XML {

CXMLException::CXMLException(std::string message)
    : message_(std::move(message)) {}

}  // namespace XML
}  // namespace TAV
