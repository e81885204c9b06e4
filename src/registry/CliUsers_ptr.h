#ifndef ZUBDM_REGISTRY_CLIUSERS_PTR_H
#define ZUBDM_REGISTRY_CLIUSERS_PTR_H

#include "ZubdmExport.h"

#include <cstddef>
#include <memory>
#include <string>

namespace ZUB_DEVICE_MEDIATION {

// Owns one shared mapping of the element's table of CLI users, a POSIX
// shared-memory object shared with the element's other programs, together
// with a descriptor of the object kept open (close-on-exec) while mapped:
// the locks on the entries this holder has reserved live on that descriptor,
// so closing it, or the end of the process however it ends, releases them.
//
// Opening creates the object when it does not exist yet (the kernel fills it
// with zero bytes: every slot free). An existing object is never shrunk and
// never cleared, since other programs may already use it. The object itself
// is never removed. When it cannot be created, opened, sized or mapped, the
// failure is logged and its cause kept for CliUserInfo::failureCause().
//
// Ownership of the mapping, the descriptor and the locks moves on copy and
// assignment (the source is left without them); the holder releases them on
// destruction. Not thread-safe.
class ZUBDM_EXPORT CliUsers_ptr {
 public:
  // Size in bytes of one slot.
  static constexpr int ENTRY_SIZE = 116;

  CliUsers_ptr();
  // Maps `size` bytes of the object `name`; without a mapping when the object
  // cannot be opened, sized or mapped.
  CliUsers_ptr(char const* name, int size);
  CliUsers_ptr(CliUsers_ptr& other);
  CliUsers_ptr& operator=(CliUsers_ptr& other);
  virtual ~CliUsers_ptr();

  // The first entry, or null without a mapping.
  unsigned char* get() const { return address_; }
  unsigned char* operator->() const { return address_; }
  unsigned char& operator*() const { return *address_; }
  // Entry `i`; not bounds-checked (see CliUserInfo::isValidEntry).
  unsigned char* operator[](int i) const {
    return address_ + static_cast<std::ptrdiff_t>(ENTRY_SIZE) * i;
  }
  // Bytes mapped (0 without a mapping).
  int length() const { return address_ ? length_ : 0; }

 private:
  // The slot operations of CliUserInfo use the descriptor, its locks and
  // the kept cause.
  friend class CliUserInfo;
  struct Impl;
  enum class LockResult { Taken, HeldElsewhere, Failed };

  void map(char const* name, int size);
  void release();

  // Remembers `cause` for failureCause() ("": nothing failed).
  void keep(const std::string& cause) const;
  const std::string& cause() const;
  // keep()s `cause` and logs it.
  void fail(const char* function, int line, const std::string& cause) const;
  // "CLI user table <name>: <what>".
  std::string describe(const std::string& what) const;
  // describe() of "<what>: <text of error>", with the table's owner and mode
  // for a permission problem.
  std::string describeError(const std::string& what, int error) const;
  // True when the object still covers every mapped byte; logs and keeps the
  // cause otherwise, since touching a page past its end raises SIGBUS.
  bool intact(const char* function) const;
  // Write lock on entry `i`'s bytes, without waiting; taken through this
  // holder's descriptor.
  LockResult lockEntry(int i, const char* function);
  // Drops the lock on entry `i` if this holder has it.
  void unlockEntry(int i, const char* function);
  bool holdsEntry(int i) const;
  // Whether another open of the object holds a lock on entry `i`; false
  // (logged) when that cannot be told.
  bool lockedElsewhere(int i, const char* function) const;
  // The lock that makes a reservation one step for every host: a write lock
  // on the byte after the last entry, waited for at most a short while.
  bool lockReservations(const char* function);
  void unlockReservations(const char* function);

  unsigned char* address_;
  std::string name_;
  int length_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_REGISTRY_CLIUSERS_PTR_H
