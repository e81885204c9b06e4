#ifndef ZUBDM_REGISTRY_CLIUSERINFO_H
#define ZUBDM_REGISTRY_CLIUSERINFO_H

#include "ZubdmExport.h"

#include <array>
#include <optional>
#include <string>

#include "registry/CliUsers_ptr.h"

namespace ZUB_DEVICE_MEDIATION {

class CliUserInfo;

// The slot functions, befriended by CliUserInfo; described below it.
ZUBDM_EXPORT int swmGetFreeCliUserIndex(CliUserInfo& info);
ZUBDM_EXPORT int swmUpdateCliUserEntry(int index, CliUserInfo& info);
ZUBDM_EXPORT int swmFreeStaleCliUsers(CliUserInfo& info);

// Slot operations on the element's table of CLI users: 15 slots of 116 bytes,
// integers in the machine's byte order. Every operation does nothing (or
// reports failure) without a mapping or for an index outside 0 to 14.
//
// A slot of this library's user type belongs to the host that holds a lock
// on its bytes; the lock is taken through this object's open of the table,
// so it goes when the object is destroyed or its process ends, however it
// ends. An entry of this library's type that is in use but that no host
// holds is stale: its host ended without freeing it (so every host that
// writes entries of this type must hold their locks). Entries of other types
// belong to programs that take no locks and are never touched.
//
// Before each access to the table's bytes the table is checked to still
// cover them: a table that another process shrank fails the step (logged)
// instead of raising SIGBUS. A shrink between the check and the access
// remains possible.
//
// One object is not thread-safe; different objects, in one process or in
// several, reserve and free slots safely at the same time.
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

  using Entry = std::array<unsigned char, ENTRY_SIZE>;

  CliUserInfo();
  CliUserInfo(char const* name, int size);
  virtual ~CliUserInfo();

  // True exactly when a mapping is held and 0 <= index <= 14.
  bool isValidEntry(int index) const;
  // Frees slot `index` by zeroing all its bytes, then drops this object's
  // lock on it. Nothing is written (logged) when the table shrank, or when
  // another host holds the slot or a program of another type uses it.
  void initEntry(int index);
  // Records the CLI's process id in slot `index`; returns `pid`, or -1 (with
  // nothing written) for an invalid index, a shrunk table, or a slot that
  // another host holds or a program of another type uses (logged).
  int setPid(int index, int pid);
  // Kept for the host's diagnostics; prints nothing.
  void dump(int index);

  // Entry `index` (valid index required). Not checked against the table's
  // current size: readEntry() is.
  unsigned char* entry(int index) const { return users_[index]; }
  // A copy of entry `index`; nothing for an invalid index or a shrunk table
  // (logged).
  std::optional<Entry> readEntry(int index) const;
  // True when a host, this object included, holds slot `index`. False for
  // an invalid index, and when that cannot be told (logged).
  bool isSlotHeld(int index) const;

  // Why the table could not be created, opened, sized or mapped, or why the
  // last reservation or slot operation failed: the table's name and the
  // cause, with the error text, and the table's owner and mode when
  // permission was refused. Empty while nothing failed since the table was
  // opened or since the last successful reservation.
  const std::string& failureCause() const;

 private:
  friend int swmGetFreeCliUserIndex(CliUserInfo& info);
  friend int swmUpdateCliUserEntry(int index, CliUserInfo& info);
  friend int swmFreeStaleCliUsers(CliUserInfo& info);

  int reserve();
  // reserve() with the reservation lock held.
  int reserveLocked(const char* function);
  int takeEntry(int index);
  int freeStale();
  // With the reservation lock held: frees stale entries and counts the live
  // entries of this library's type into `live`; -1 when a lock fails.
  int sweep(const char* function, int& live);
  bool isOwnInUse(int index) const;
  // Whether slot `index` may be written: one this object holds, or one that
  // neither another host holds nor a program of another type uses (else
  // logged, with the cause kept).
  bool mayWrite(int index, const char* function) const;

  CliUsers_ptr users_;
};

// Reserves the first free slot for this library and returns its index, or -1
// without a mapping, when no slot is free, when three slots of this
// library's type are held by live hosts, or when the table shrank or cannot
// be locked. Stale entries of this library's type are freed first (see
// swmFreeStaleCliUsers). The slot's lock is taken before its entry is
// written, and the whole reservation is one step for every host, so no two
// hosts take the same slot nor more than three at once; a host that has been
// reserving for 2 s (stopped or stuck) makes it fail. failureCause() says
// why it failed; the caller logs that, while failures of the table (shrunk,
// a lock that cannot be taken) are logged here.
ZUBDM_EXPORT int swmGetFreeCliUserIndex(CliUserInfo& info);

// Marks slot `index` as taken by this library (in-use flag, index, type, name,
// the value 15 at offset 108), after taking its lock unless `info` holds it
// already; other bytes stay. 0, or -1 for an invalid index, a shrunk table,
// or a slot that another host holds or a program of another type uses
// (logged).
ZUBDM_EXPORT int swmUpdateCliUserEntry(int index, CliUserInfo& info);

// Frees the stale entries (this library's type, in use, held by no host) and
// returns how many it freed, logging each with its slot and the process id
// it recorded; -1 without a mapping or when the table shrank or cannot be
// locked (logged). Entries of other types are never touched.
ZUBDM_EXPORT int swmFreeStaleCliUsers(CliUserInfo& info);

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_REGISTRY_CLIUSERINFO_H
