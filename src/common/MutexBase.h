#ifndef ZUBDM_COMMON_MUTEXBASE_H
#define ZUBDM_COMMON_MUTEXBASE_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/host/MutexData.h>

namespace OSWrap {

// Forwards creation and unlocking to the POSIX mutex record.
class ZUBDM_EXPORT MutexBase : public MutexData {
 public:
  MutexBase() = default;
  int create(bool recursive, bool shared) {
    return MutexData::create(recursive, shared);
  }
  int unlock() { return MutexData::unlock(); }
};

}  // namespace OSWrap

#endif  // ZUBDM_COMMON_MUTEXBASE_H
