#ifndef ZUBDM_REGISTRY_USERTABLE_H
#define ZUBDM_REGISTRY_USERTABLE_H

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <zubdm/registry/CliUserEntry.h>
#include <zubdm/registry/CliUserInfo.h>
#include <zubdm/result/FailureKind.h>

namespace zubdm {
namespace internal {

class UserSlot;

// The element's table of CLI users: a POSIX shared-memory object shared
// with the element's other programs, 15 slots of 116 bytes, integers in the
// machine's byte order. Owns one mapping of it and a descriptor kept open
// (close-on-exec) while mapped.
//
// A slot of this library's user type belongs to the host that holds a lock
// on its bytes; the lock lives on this object's open of the table, so it
// goes when the object is destroyed or its process ends, however it ends.
// An entry of this library's type in use that no host holds is stale: its
// host ended without freeing it. Entries of other types belong to programs
// that take no locks and are never written.
//
// Opening creates the object when it does not exist (the kernel fills it
// with zero bytes: every slot free); an existing one is never shrunk nor
// cleared, and none is ever removed. Before each access the object is
// checked to still cover the mapping: a table that another process shrank
// fails the step instead of raising SIGBUS. Every failure leaves a record
// (failure()); failures of the table itself are also logged.
//
// Move-only. One object is not thread-safe; different objects, in one
// process or in several, reserve and free slots safely at the same time.
class UserTable : public CliUserEntry {
 public:
  using Entry = std::array<unsigned char, SIZE>;

  // What a sweep did with one stale entry.
  using StaleEntry = ZUB_DEVICE_MEDIATION::StaleCliUser;

  UserTable() = default;
  // Opens or creates `name` and maps `size` bytes of it; without a mapping
  // (failure() says why) when that cannot be done.
  UserTable(const std::string& name, int size);
  UserTable(UserTable&& other) noexcept;
  UserTable& operator=(UserTable&& other) noexcept;
  ~UserTable();

  unsigned char* address() const { return address_; }
  // Bytes mapped (0 without a mapping).
  int length() const { return address_ ? length_ : 0; }
  // True when slot `index` (0 to 14) lies within the mapping.
  bool covers(int index) const;

  // Reserves the first free slot for this library; an empty handle when
  // there is no mapping, no slot is free, three slots of this library's
  // type are held by live hosts, or the table shrank or cannot be locked.
  // Stale entries are swept first (see freeStale). The slot's lock is taken
  // before its entry is written, and the whole reservation is one step for
  // every host, so no two hosts take the same slot nor more than three.
  UserSlot reserve();
  // Marks slot `index` as taken by this library, taking its lock unless it
  // is held here already; false for a slot that another host holds or that
  // a program of another type uses.
  bool take(int index);
  // Zeroes slot `index` and drops its lock here; nothing written for a slot
  // that another host holds or a program of another type uses.
  void release(int index);
  // Records the CLI's process id in slot `index`.
  bool setPid(int index, int pid);
  // Frees the stale entries (this library's type, in use, held by no host)
  // whose processes have all ended; a CLI still running for such an entry
  // is ended first (SIGTERM, then SIGKILL after 300 ms) when it is the one
  // started for that slot ("cli -n <slot>"), and the entry is left
  // otherwise. Logs each entry freed; -1 without a mapping or when the
  // table shrank or cannot be locked, else the number freed. `report`
  // (optional) receives every stale entry met.
  int freeStale(std::vector<StaleEntry>* report = nullptr);

  // A copy of slot `index`; nothing outside the mapping or for a shrunk
  // table.
  std::optional<Entry> read(int index) const;
  // Whether a host, this object included, holds slot `index`.
  bool held(int index) const;

  // The last failure: why the table could not be opened, or why the last
  // slot operation failed (cleared by a reservation that succeeds).
  const ZUB_DEVICE_MEDIATION::FailureRecord& failure() const { return failure_; }

 private:
  enum class Lock { Taken, HeldElsewhere, Failed };

  void open(int size);
  void unmap();
  // Records a failure of `step` and logs it; the answers of a reservation
  // ("no slot is free") are not logged: they are no faults, and the
  // caller says them.
  void fail(const char* function, int line, ZUB_DEVICE_MEDIATION::FailureStep step,
            const std::string& what, int error = 0, bool logged = true) const;
  bool intact(const char* function) const;
  bool ownInUse(int index) const;
  bool mayWrite(int index, const char* function) const;
  int reserveLocked();
  int sweep(const char* function, int& live, std::vector<StaleEntry>* report);
  // Frees stale slot `index` (its lock held here) unless a process of it
  // still runs that cannot be ended; fills `entry` with what was done.
  void freeStaleEntry(int index, StaleEntry& entry, const char* function);
  // Sets (or with `test`, tests for another open's) lock on slot `index`,
  // or with MAX_ENTRIES the byte after the slots that reservations take;
  // 0, the errno of fcntl, or EAGAIN for a lock held elsewhere.
  int setLock(int index, short type, bool test) const;
  Lock lockEntry(int index, const char* function);
  void unlockEntry(int index, const char* function);
  bool holds(int index) const { return (heldEntries_ & (1u << index)) != 0; }
  unsigned char* slotAt(int index) const {
    return address_ + static_cast<std::ptrdiff_t>(index) * SIZE;
  }
  bool lockedElsewhere(int index, const char* function) const;
  bool lockReservations(const char* function);
  void unlockReservations(const char* function);

  std::string name_;
  unsigned char* address_ = nullptr;
  int length_ = 0;
  int descriptor_ = -1;
  // Bit i: this object holds the lock of slot i.
  unsigned heldEntries_ = 0;
  mutable ZUB_DEVICE_MEDIATION::FailureRecord failure_;
};

// One slot of a table, reserved for this library: frees it (zeroed, lock
// dropped) when destroyed, except in a forked copy of the process that
// reserved it, which leaves it to that process. Borrows the table, which
// must outlive it and stay where it is. Move-only; empty when the
// reservation failed.
class UserSlot {
 public:
  UserSlot() = default;
  UserSlot(UserTable& table, int index);
  UserSlot(UserSlot&& other) noexcept;
  UserSlot& operator=(UserSlot&& other) noexcept;
  ~UserSlot();

  explicit operator bool() const { return table_ != nullptr; }
  int index() const { return table_ ? index_ : -1; }
  bool setPid(int pid) { return table_ != nullptr && table_->setPid(index_, pid); }
  // Lets go of the slot without freeing it; its lock stays with the table.
  int release();

 private:
  UserTable* table_ = nullptr;
  int index_ = -1;
  pid_t owner_ = -1;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_REGISTRY_USERTABLE_H
