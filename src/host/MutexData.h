#ifndef ZUBDM_HOST_MUTEXDATA_H
#define ZUBDM_HOST_MUTEXDATA_H

#include <zubdm/ZubdmExport.h>

#include <pthread.h>

#include <boost/noncopyable.hpp>

namespace OSWrap {

// The POSIX mutex object itself, at the start of the record, so that get()
// returns the record's own address. Not copyable.
class ZUBDM_EXPORT MutexData : private boost::noncopyable {
 public:
  MutexData();
  // Does no work: the owner of the whole stack destroys the POSIX mutex.
  ~MutexData() = default;

  // Initialises the mutex: `recursive` allows the owner to lock it again,
  // `shared` makes it usable across processes. Returns 0 or an error number.
  int create(bool recursive, bool shared);

  pthread_mutex_t* get() { return &mutex_; }
  int unlock() { return pthread_mutex_unlock(get()); }

 private:
  pthread_mutex_t mutex_;
};

}  // namespace OSWrap

#endif  // ZUBDM_HOST_MUTEXDATA_H
