#ifndef ZUBDM_REGISTRY_CLIUSERINFO_H
#define ZUBDM_REGISTRY_CLIUSERINFO_H

#include "ZubdmExport.h"

#include <string>

#include "registry/CliUsers_ptr.h"

namespace ZUB_DEVICE_MEDIATION {

// Slot operations on the element's table of CLI users: 15 slots of 116 bytes,
// integers in the machine's byte order. Every operation does nothing (or
// reports failure) without a mapping or for an index outside 0 to 14.
//
// The table is shared with other processes and has no lock. One object is
// not thread-safe; reserving and freeing slots through different objects of
// one process is (see swmGetFreeCliUserIndex).
class ZUBDM_EXPORT CliUserInfo {
 public:
  static constexpr int MAX_ENTRIES = 15;
  static constexpr int ENTRY_SIZE = CliUsers_ptr::ENTRY_SIZE;
  // Byte offsets within one entry.
  static constexpr int INDEX_OFFSET = 0;
  static constexpr int IN_USE_OFFSET = 4;
  static constexpr int USER_TYPE_OFFSET = 5;
  static constexpr int USER_NAME_OFFSET = 32;
  static constexpr int USER_NAME_SIZE = 32;
  static constexpr int PID_OFFSET = 72;
  static constexpr int MARK_OFFSET = 108;
  // Field values.
  static constexpr unsigned char IN_USE = 1;
  static constexpr unsigned char OWN_USER_TYPE = 2;
  static constexpr int MARK_VALUE = 15;

  CliUserInfo();
  CliUserInfo(char const* name, int size);
  virtual ~CliUserInfo();

  // True exactly when a mapping is held and 0 <= index <= 14.
  bool isValidEntry(int index) const;
  // Frees slot `index` by zeroing all its bytes.
  void initEntry(int index);
  // Records the CLI's process id in slot `index`; returns `pid`, or -1 for an
  // invalid index (nothing written).
  int setPid(int index, int pid);
  // Kept for the host's diagnostics; prints nothing.
  void dump(int index);

  // Entry `index` (valid index required).
  unsigned char* entry(int index) const { return users_[index]; }

  // Why the table could not be created, opened, sized or mapped: the
  // table's name and the cause, with the error text, and the table's owner
  // and mode when permission was refused. Empty when it was mapped.
  const std::string& failureCause() const;

 private:
  CliUsers_ptr users_;
};

// Reserves the first free slot for this library and returns its index, or -1
// without a mapping, when no slot is free, or when three slots already belong
// to this library's user type. Reservations and initEntry() of the threads of
// one process are serialised; other processes are not held off.
ZUBDM_EXPORT int swmGetFreeCliUserIndex(CliUserInfo& info);

// Marks slot `index` as taken by this library (in-use flag, index, type, name,
// the value 15 at offset 108); other bytes stay. 0, or -1 for an invalid index.
ZUBDM_EXPORT int swmUpdateCliUserEntry(int index, CliUserInfo& info);

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_REGISTRY_CLIUSERINFO_H
