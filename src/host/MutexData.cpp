#include <zubdm/host/MutexData.h>

namespace OSWrap {

MutexData::MutexData() : mutex_(PTHREAD_MUTEX_INITIALIZER) {}

int MutexData::create(bool recursive, bool shared) {
  pthread_mutexattr_t attributes;
  int status = pthread_mutexattr_init(&attributes);
  if (status != 0) return status;
  pthread_mutexattr_settype(&attributes, recursive ? PTHREAD_MUTEX_RECURSIVE
                                                   : PTHREAD_MUTEX_NORMAL);
  pthread_mutexattr_setpshared(&attributes, shared ? PTHREAD_PROCESS_SHARED
                                                   : PTHREAD_PROCESS_PRIVATE);
  status = pthread_mutex_init(&mutex_, &attributes);
  pthread_mutexattr_destroy(&attributes);
  return status;
}

}  // namespace OSWrap
