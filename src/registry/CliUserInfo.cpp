#include "registry/CliUserInfo.h"

#include <cstdint>
#include <cstring>
#include <mutex>

namespace ZUB_DEVICE_MEDIATION {

namespace {

const int kMaxOwnUsers = 3;
const char kUserName[] = "QOR_SW_MANAGEMENT";

// Integers in the table may sit at any offset: copy, never cast.
void storeInt(unsigned char* at, int32_t value) {
  std::memcpy(at, &value, sizeof value);
}

// Serialises the reservations and releases of slots made by the threads of
// this process: two mediators built at once would otherwise both see the
// same free slot, and a slot being freed could be reserved half-cleared.
// The table itself has no lock, so other processes are not held off.
std::mutex& slotMutex() {
  static std::mutex mutex;
  return mutex;
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
  if (!isValidEntry(index)) return;
  std::lock_guard<std::mutex> guard(slotMutex());
  std::memset(entry(index), 0, ENTRY_SIZE);
}

int CliUserInfo::setPid(int index, int pid) {
  if (!isValidEntry(index)) return -1;
  storeInt(entry(index) + PID_OFFSET, pid);
  return pid;
}

void CliUserInfo::dump(int /*index*/) {}

const std::string& CliUserInfo::failureCause() const {
  static const std::string kNoTable = "no CLI user table is mapped";
  const std::string& cause = users_.cause();
  return cause.empty() && users_.get() == nullptr ? kNoTable : cause;
}

int swmGetFreeCliUserIndex(CliUserInfo& info) {
  if (!info.isValidEntry(0)) return -1;
  std::lock_guard<std::mutex> guard(slotMutex());
  int freeIndex = -1;
  int ownUsers = 0;
  for (int i = 0; i < CliUserInfo::MAX_ENTRIES; ++i) {
    const unsigned char* slot = info.entry(i);
    const bool inUse = slot[CliUserInfo::IN_USE_OFFSET] == CliUserInfo::IN_USE;
    if (!inUse && freeIndex < 0) freeIndex = i;
    if (inUse && slot[CliUserInfo::USER_TYPE_OFFSET] == CliUserInfo::OWN_USER_TYPE)
      ++ownUsers;
  }
  if (freeIndex < 0 || ownUsers >= kMaxOwnUsers) return -1;
  swmUpdateCliUserEntry(freeIndex, info);
  info.dump(freeIndex);
  return freeIndex;
}

int swmUpdateCliUserEntry(int index, CliUserInfo& info) {
  if (!info.isValidEntry(index)) return -1;
  unsigned char* slot = info.entry(index);
  slot[CliUserInfo::IN_USE_OFFSET] = CliUserInfo::IN_USE;
  storeInt(slot + CliUserInfo::INDEX_OFFSET, index);
  storeInt(slot + CliUserInfo::MARK_OFFSET, CliUserInfo::MARK_VALUE);
  slot[CliUserInfo::USER_TYPE_OFFSET] = CliUserInfo::OWN_USER_TYPE;
  // A bounded copy that pads the 32-byte field with NUL bytes.
  std::strncpy(reinterpret_cast<char*>(slot + CliUserInfo::USER_NAME_OFFSET),
               kUserName, CliUserInfo::USER_NAME_SIZE);
  return 0;
}

}  // namespace ZUB_DEVICE_MEDIATION
