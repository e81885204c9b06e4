#ifndef ZUBDM_HOST_NAMEDNODEMAP_H
#define ZUBDM_HOST_NAMEDNODEMAP_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/host/DOMObject.h>

namespace TAV {
namespace XML {

class Attr;

// The attributes of one element in document order. Handed out with one
// reference that the caller releases.
class ZUBDM_EXPORT NamedNodeMap : public DOMObject {
 public:
  virtual unsigned int getLength() const = 0;
  // The attribute at `index`, or null when `index` is not below getLength().
  virtual Attr* item(unsigned int index) const = 0;

 protected:
  NamedNodeMap() = default;
  ~NamedNodeMap() = default;
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_NAMEDNODEMAP_H
