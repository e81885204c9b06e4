#ifndef ZUBDM_COMMON_MUTEX_H
#define ZUBDM_COMMON_MUTEX_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/common/MutexBase.h>

namespace OSWrap {

// A ready-to-use, non-recursive, process-private mutex.
class ZUBDM_EXPORT Mutex : public MutexBase {
 public:
  Mutex() { create(false, false); }
  int unlock() { return MutexBase::unlock(); }
};

}  // namespace OSWrap

#endif  // ZUBDM_COMMON_MUTEX_H
