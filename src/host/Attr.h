#ifndef ZUBDM_HOST_ATTR_H
#define ZUBDM_HOST_ATTR_H

#include <zubdm/ZubdmExport.h>

#include <string>

#include <zubdm/host/Node.h>

namespace TAV {
namespace XML {

// An attribute of an element, as reached through its attribute map.
class ZUBDM_EXPORT Attr : public Node {
 public:
  virtual std::string getName() const = 0;
  // The value with character and entity references already replaced.
  virtual std::string getValue() const = 0;

 protected:
  Attr() = default;
  ~Attr() = default;
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_ATTR_H
