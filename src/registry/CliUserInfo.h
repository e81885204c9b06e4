#ifndef ZUBDM_REGISTRY_CLIUSERINFO_H
#define ZUBDM_REGISTRY_CLIUSERINFO_H

#include <zubdm/ZubdmExport.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <zubdm/registry/CliUserEntry.h>
#include <zubdm/registry/CliUsers_ptr.h>

namespace ZUB_DEVICE_MEDIATION {

// Slot operations on the element's table of CLI users (CliUserEntry gives
// its layout). Every operation does nothing (or reports failure) without a
// mapping or for an index outside 0 to 14.
//
// A slot of this library's user type belongs to the host that holds a lock
// on its bytes; the lock is taken through this object's open of the table,
// so it goes when the object is destroyed or its process ends, however it
// ends, while the entry stays. An entry of this library's type that is in
// use but that no host holds is stale: its host ended without freeing it.
// Entries of other types belong to programs that take no locks and are
// never touched. A table that another process shrank fails each step
// (logged) instead of raising SIGBUS.
//
// One object is not thread-safe; different objects, in one process or in
// several, reserve and free slots safely at the same time.
class ZUBDM_EXPORT CliUserInfo {
 public:
  using Entry = std::array<unsigned char, CliUserEntry::SIZE>;

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
  // cause. Empty while nothing failed since the table was opened or since
  // the last successful reservation.
  std::string failureCause() const;

  // The table behind this object (null without one); the library's own.
  zubdm::internal::UserTable* table() const { return users_.table(); }

 private:
  CliUsers_ptr users_;
};

// Reserves the first free slot for this library and returns its index, or -1
// without a mapping, when no slot is free, when three slots of this
// library's type are held by live hosts, or when the table shrank or cannot
// be locked. Stale entries of this library's type are freed first (see
// swmFreeStaleCliUsers). No two hosts take the same slot nor more than
// three at once; a host that has been reserving for 2 s (stopped or stuck)
// makes it fail. failureCause() says why it failed.
ZUBDM_EXPORT int swmGetFreeCliUserIndex(CliUserInfo& info);

// Marks slot `index` as taken by this library (in-use flag, index, type, name,
// the value 15 at offset 108), after taking its lock unless `info` holds it
// already; other bytes stay. 0, or -1 for an invalid index, a shrunk table,
// or a slot that another host holds or a program of another type uses
// (logged).
ZUBDM_EXPORT int swmUpdateCliUserEntry(int index, CliUserInfo& info);

// Frees the stale entries (this library's type, in use, held by no host)
// whose processes have ended, ending first a CLI that still runs for one
// when it is the CLI started for that slot ("cli -n <slot>"); logs each it
// frees and returns how many, or -1 without a mapping or when the table
// shrank or cannot be locked (logged). Entries of other types are never
// touched.
ZUBDM_EXPORT int swmFreeStaleCliUsers(CliUserInfo& info);

// What swmFreeStaleCliUsers did with one stale entry.
struct StaleCliUser {
  int index;
  int32_t pid;      // the process the entry recorded
  bool freed;       // false: it stays, for `why`
  bool endedCli;    // its CLI was still running and was ended first
  std::string why;  // why it stays
};

// The same, and appends to `report` every stale entry met, in slot order.
ZUBDM_EXPORT int swmFreeStaleCliUsers(CliUserInfo& info, std::vector<StaleCliUser>& report);

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_REGISTRY_CLIUSERINFO_H
