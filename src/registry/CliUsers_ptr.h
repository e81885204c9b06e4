#ifndef ZUBDM_REGISTRY_CLIUSERS_PTR_H
#define ZUBDM_REGISTRY_CLIUSERS_PTR_H

#include <zubdm/ZubdmExport.h>

#include <cstddef>
#include <memory>

namespace zubdm {
namespace internal {
class UserTable;
}  // namespace internal
}  // namespace zubdm

namespace ZUB_DEVICE_MEDIATION {

// Owns one shared mapping of the element's table of CLI users, a POSIX
// shared-memory object shared with the element's other programs (see
// CliUserInfo for what the library does with it). Opening creates the
// object when it does not exist yet; an existing one is never shrunk nor
// cleared, and none is ever removed. When it cannot be opened, sized or
// mapped, the failure is logged and kept for CliUserInfo::failureCause().
//
// Ownership of the mapping, its descriptor and the slot locks taken through
// it moves on copy and assignment (the source is left without them); the
// holder releases them on destruction. Not thread-safe.
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
  unsigned char* get() const;
  unsigned char* operator->() const { return get(); }
  unsigned char& operator*() const { return *get(); }
  // Entry `i`; not bounds-checked (see CliUserInfo::isValidEntry).
  unsigned char* operator[](int i) const {
    return get() + static_cast<std::ptrdiff_t>(ENTRY_SIZE) * i;
  }
  // Bytes mapped (0 without a mapping).
  int length() const;

  // The table behind the mapping (null for none); the library's own.
  zubdm::internal::UserTable* table() const { return table_.get(); }

 private:
  std::unique_ptr<zubdm::internal::UserTable> table_;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_REGISTRY_CLIUSERS_PTR_H
