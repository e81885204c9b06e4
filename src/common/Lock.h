#ifndef ZUBDM_COMMON_LOCK_H
#define ZUBDM_COMMON_LOCK_H

namespace OSWrap {

// Scoped lock: locks in the constructor, unlocks in the destructor, so every
// way out of the scope (an exception included) releases the mutex.
template <typename M>
class Lock {
 public:
  explicit Lock(M& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~Lock() { mutex_.unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  M& mutex_;
};

}  // namespace OSWrap

#endif  // ZUBDM_COMMON_LOCK_H
