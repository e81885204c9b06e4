#ifndef ZUBDM_HOST_DOMOBJECT_H
#define ZUBDM_HOST_DOMOBJECT_H

#include <zubdm/ZubdmExport.h>

#include <cstdint>

namespace TAV {
namespace XML {

// Base of every object the DOM layer hands out: a reference count that starts
// at one for whoever created the object. The count is not atomic; an object
// is used by one thread at a time.
class ZUBDM_EXPORT DOMObject {
 public:
  DOMObject(const DOMObject&) = delete;
  DOMObject& operator=(const DOMObject&) = delete;

  // Takes one more reference.
  void addRef() { ++refCount_; }

  // Gives back one reference; the object disposes of itself once none is
  // left. The object must not be used by this holder afterwards.
  void release() {
    if (--refCount_ <= 0) dispose();
  }

 protected:
  DOMObject() = default;
  // Objects end through dispose(), never through a base-class delete.
  ~DOMObject() = default;

  // Frees the object or, for objects whose storage belongs to a document,
  // does nothing.
  virtual void dispose() = 0;

 private:
  int32_t refCount_ = 1;
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_DOMOBJECT_H
