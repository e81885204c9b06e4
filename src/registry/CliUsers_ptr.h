#ifndef ZUBDM_REGISTRY_CLIUSERS_PTR_H
#define ZUBDM_REGISTRY_CLIUSERS_PTR_H

#include "ZubdmExport.h"

#include <cstddef>
#include <memory>
#include <string>

namespace ZUB_DEVICE_MEDIATION {

// Owns one shared mapping of the element's table of CLI users, a POSIX
// shared-memory object shared with the element's other programs.
//
// Opening creates the object when it does not exist yet (the kernel fills it
// with zero bytes: every slot free). An existing object is never shrunk and
// never cleared, since other programs may already use it. The object itself
// is never removed. When it cannot be created, opened, sized or mapped, the
// failure is logged and its cause kept for CliUserInfo::failureCause().
//
// Ownership of the mapping and the kept cause moves on copy and assignment
// (the source is left without them); the holder releases the mapping on
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
  // CliUserInfo reads and keeps the cause.
  friend class CliUserInfo;
  struct Impl;

  void map(char const* name, int size);
  void release();

  // Remembers `cause` for failureCause() ("": nothing failed).
  void keep(const std::string& cause) const;
  const std::string& cause() const;
  // keep()s `cause` and logs it.
  void fail(const char* function, int line, const std::string& cause) const;
  // "CLI user table <name>: <what>".
  std::string describe(const std::string& what) const;

  unsigned char* address_;
  std::string name_;
  int length_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_REGISTRY_CLIUSERS_PTR_H
