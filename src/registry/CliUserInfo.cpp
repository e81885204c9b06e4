#include "registry/CliUserInfo.h"

#include <cstdint>
#include <cstring>

#include "common/QorLogHelper.h"

namespace ZUB_DEVICE_MEDIATION {

namespace {

const char kLogFile[] = "CliUserInfo";
const int kMaxOwnUsers = 3;
const char kUserName[] = "QOR_SW_MANAGEMENT";

// Integers in the table may sit at any offset: copy, never cast.
void storeInt(unsigned char* at, int32_t value) {
  std::memcpy(at, &value, sizeof value);
}

int32_t loadInt(const unsigned char* at) {
  int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

CliUserInfo::CliUserInfo() = default;

CliUserInfo::CliUserInfo(char const* name, int size) : users_(name, size) {}

CliUserInfo::~CliUserInfo() = default;

bool CliUserInfo::isValidEntry(int index) const {
  return users_.get() != nullptr && index >= 0 && index < MAX_ENTRIES &&
         (index + 1) * ENTRY_SIZE <= users_.length();
}

void CliUserInfo::initEntry(int index) {
  if (!isValidEntry(index) || !users_.intact(__func__) || !mayWrite(index, __func__)) return;
  // Zeroed before the lock goes: no host can take the slot while bytes of
  // this one are left in it.
  std::memset(entry(index), 0, ENTRY_SIZE);
  users_.unlockEntry(index, __func__);
}

int CliUserInfo::setPid(int index, int pid) {
  if (!isValidEntry(index) || !users_.intact(__func__) || !mayWrite(index, __func__)) {
    return -1;
  }
  storeInt(entry(index) + PID_OFFSET, pid);
  return pid;
}

void CliUserInfo::dump(int /*index*/) {}

std::optional<CliUserInfo::Entry> CliUserInfo::readEntry(int index) const {
  if (!isValidEntry(index) || !users_.intact(__func__)) return std::nullopt;
  Entry bytes;
  std::memcpy(bytes.data(), entry(index), ENTRY_SIZE);
  return bytes;
}

bool CliUserInfo::isSlotHeld(int index) const {
  if (!isValidEntry(index)) return false;
  return users_.holdsEntry(index) || users_.lockedElsewhere(index, __func__);
}

const std::string& CliUserInfo::failureCause() const {
  static const std::string kNoTable = "no CLI user table is mapped";
  const std::string& cause = users_.cause();
  return cause.empty() && users_.get() == nullptr ? kNoTable : cause;
}

bool CliUserInfo::mayWrite(int index, const char* function) const {
  if (users_.holdsEntry(index)) return true;
  const unsigned char* slot = entry(index);
  std::string owner;
  if (slot[IN_USE_OFFSET] == IN_USE && slot[USER_TYPE_OFFSET] != OWN_USER_TYPE) {
    owner = "a program of user type " + std::to_string(slot[USER_TYPE_OFFSET]);
  } else if (users_.lockedElsewhere(index, function)) {
    owner = "another host";
  } else {
    return true;
  }
  users_.fail(function, __LINE__,
              users_.describe("slot " + std::to_string(index) + " is held by " + owner));
  return false;
}

bool CliUserInfo::isOwnInUse(int index) const {
  const unsigned char* slot = entry(index);
  return slot[IN_USE_OFFSET] == IN_USE &&
         slot[USER_TYPE_OFFSET] == OWN_USER_TYPE;
}

int CliUserInfo::sweep(const char* function, int& live) {
  int freed = 0;
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (!isOwnInUse(i)) continue;
    if (users_.holdsEntry(i)) {
      ++live;
      continue;
    }
    const CliUsers_ptr::LockResult lock = users_.lockEntry(i, function);
    if (lock == CliUsers_ptr::LockResult::Failed) return -1;
    if (lock == CliUsers_ptr::LockResult::HeldElsewhere) {
      ++live;
      continue;
    }
    // No other host held it, so its host has ended. Looked at again under
    // the lock: the host may have freed it just before ending.
    if (isOwnInUse(i)) {
      const int32_t pid = loadInt(entry(i) + PID_OFFSET);
      std::memset(entry(i), 0, ENTRY_SIZE);
      ++freed;
      QorLogHelper(4, kLogFile, function, __LINE__)
          .message(users_.describe("freed stale slot " + std::to_string(i) +
                                   " (pid " + std::to_string(pid) + ")"));
    }
    users_.unlockEntry(i, function);
  }
  return freed;
}

int CliUserInfo::reserve() {
  const char* const function = "swmGetFreeCliUserIndex";
  // Without a mapping the cause was logged when the table was opened.
  if (!isValidEntry(0) || !users_.intact(function)) return -1;
  if (!users_.lockReservations(function)) return -1;
  const int index = reserveLocked(function);
  users_.unlockReservations(function);
  if (index >= 0) dump(index);
  return index;
}

int CliUserInfo::reserveLocked(const char* function) {
  int live = 0;
  if (sweep(function, live) < 0) return -1;
  // Kept, not logged, like "no slot is free" below: the caller logs these
  // answers; they are no faults of the table.
  if (live >= kMaxOwnUsers) {
    users_.keep(users_.describe(
        std::to_string(live) +
        " slots of this library's type are held by live hosts"));
    return -1;
  }
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (users_.holdsEntry(i) || entry(i)[IN_USE_OFFSET] == IN_USE) continue;
    const CliUsers_ptr::LockResult lock = users_.lockEntry(i, function);
    if (lock == CliUsers_ptr::LockResult::Failed) return -1;
    // Held elsewhere: its host is freeing it right now.
    if (lock == CliUsers_ptr::LockResult::HeldElsewhere) continue;
    // Programs of other types take slots without locks: look again.
    if (entry(i)[IN_USE_OFFSET] == IN_USE) {
      users_.unlockEntry(i, function);
      continue;
    }
    if (takeEntry(i) != 0) {  // logged there
      users_.unlockEntry(i, function);
      return -1;
    }
    users_.keep("");
    return i;
  }
  users_.keep(users_.describe("no slot is free"));
  return -1;
}

int CliUserInfo::takeEntry(int index) {
  const char* const function = "swmUpdateCliUserEntry";
  if (!isValidEntry(index) || !users_.intact(function) || !mayWrite(index, function)) {
    return -1;
  }
  if (!users_.holdsEntry(index)) {
    const CliUsers_ptr::LockResult lock = users_.lockEntry(index, function);
    if (lock == CliUsers_ptr::LockResult::HeldElsewhere) {  // taken just now
      users_.fail(function, __LINE__,
                  users_.describe("slot " + std::to_string(index) + " is held by another host"));
    }
    if (lock != CliUsers_ptr::LockResult::Taken) return -1;
  }
  unsigned char* slot = entry(index);
  slot[IN_USE_OFFSET] = IN_USE;
  storeInt(slot + INDEX_OFFSET, index);
  storeInt(slot + MARK_OFFSET, MARK_VALUE);
  slot[USER_TYPE_OFFSET] = OWN_USER_TYPE;
  // A bounded copy that pads the 32-byte field with NUL bytes.
  std::strncpy(reinterpret_cast<char*>(slot + USER_NAME_OFFSET), kUserName,
               USER_NAME_SIZE);
  return 0;
}

int CliUserInfo::freeStale() {
  const char* const function = "swmFreeStaleCliUsers";
  if (!isValidEntry(0) || !users_.intact(function)) return -1;
  // Taken so that a reservation running meanwhile does not count an entry
  // locked only to be freed as a live one.
  if (!users_.lockReservations(function)) return -1;
  int live = 0;
  const int freed = sweep(function, live);
  users_.unlockReservations(function);
  return freed;
}

int swmGetFreeCliUserIndex(CliUserInfo& info) { return info.reserve(); }

int swmUpdateCliUserEntry(int index, CliUserInfo& info) {
  return info.takeEntry(index);
}

int swmFreeStaleCliUsers(CliUserInfo& info) { return info.freeStale(); }

}  // namespace ZUB_DEVICE_MEDIATION
