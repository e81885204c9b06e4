#ifndef ZUBDM_COMMON_QORMUTEX_H
#define ZUBDM_COMMON_QORMUTEX_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/common/Mutex.h>

// The mutex type the library locks, through OSWrap::Lock<QorMutex>.
// Non-recursive and not copyable; lock() blocks until the calling thread owns
// it. Locking it twice on one thread deadlocks.
class ZUBDM_EXPORT QorMutex {
 public:
  QorMutex() = default;
  virtual ~QorMutex();

  void lock();
  int unlock() { return mutex_.unlock(); }

 private:
  OSWrap::Mutex mutex_;
};

#endif  // ZUBDM_COMMON_QORMUTEX_H
