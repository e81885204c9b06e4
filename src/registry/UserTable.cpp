#include <zubdm/registry/UserTable.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include <zubdm/common/QorLogHelper.h>

namespace zubdm {
namespace internal {

using ZUB_DEVICE_MEDIATION::FailureKind;
using ZUB_DEVICE_MEDIATION::FailureStep;

namespace {

const char kLogFile[] = "UserTable";
const int kMaxOwnUsers = 3;
const char kUserName[] = "QOR_SW_MANAGEMENT";
// The element's programs all open the table with these permissions.
const mode_t kTableMode = 0777;
// Reservations hold their lock for a scan of 15 entries; a host that keeps
// it longer is stopped or stuck, and the others give up rather than hang.
const std::chrono::milliseconds kReservationWait{2000};
// How long an orphaned CLI gets to end after SIGTERM, and then SIGKILL.
const int kTerminateGraceMs = 300;

// Integers in the table may sit at any offset: copy, never cast.
void storeInt(unsigned char* at, int32_t value) { std::memcpy(at, &value, sizeof value); }

int32_t loadInt(const unsigned char* at) {
  int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Open-file-description locks belong to the open of the object, not to the
// process: two opens in one process exclude each other, and the lock goes
// when the last descriptor of the open is closed, also at the end of a
// process that crashed.
bool isLockConflict(int error) { return error == EAGAIN || error == EACCES; }

// Whether `pid` names the CLI started for `slot`: "cli -n <slot>".
bool isSlotCli(int32_t pid, int slot) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
  const std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> words;
  for (size_t start = 0; start < line.size();) {
    const size_t end = line.find('\0', start);
    words.push_back(line.substr(start, end - start));
    start = end == std::string::npos ? line.size() : end + 1;
  }
  if (words.size() != 3 || words[1] != "-n" || words[2] != std::to_string(slot)) return false;
  const size_t slash = words[0].rfind('/');
  return words[0].substr(slash == std::string::npos ? 0 : slash + 1) == "cli";
}

bool waitForExit(int pidfd, int timeoutMs) {
  struct pollfd entry = {pidfd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready == 1;
}

// Ends `pid` through a process descriptor, so that a recycled id is never
// signalled: SIGTERM, SIGKILL after the grace period. True once it ended.
bool endProcess(int32_t pid) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return errno == ESRCH;
  bool ended = syscall(SYS_pidfd_send_signal, pidfd, SIGTERM, nullptr, 0) == 0 &&
               waitForExit(pidfd, kTerminateGraceMs);
  if (!ended && syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0) {
    ended = waitForExit(pidfd, 1000);
  }
  close(pidfd);
  return ended;
}

bool processAlive(int32_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

UserTable::UserTable(const std::string& name, int size) : name_(name), length_(size) {
  failure_.path = name;
  if (size > 0) open(size);
}

UserTable::UserTable(UserTable&& other) noexcept { *this = std::move(other); }

UserTable& UserTable::operator=(UserTable&& other) noexcept {
  if (this == &other) return *this;
  unmap();
  name_ = std::move(other.name_);
  address_ = std::exchange(other.address_, nullptr);
  length_ = other.length_;
  descriptor_ = std::exchange(other.descriptor_, -1);
  heldEntries_ = std::exchange(other.heldEntries_, 0u);
  failure_ = std::move(other.failure_);
  return *this;
}

UserTable::~UserTable() { unmap(); }

void UserTable::open(int size) {
  // shm_open sets close-on-exec itself, so CLI children never inherit it.
  int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, kTableMode);
  if (fd < 0) {
    const int createError = errno;
    fd = shm_open(name_.c_str(), O_RDWR, kTableMode);
    if (fd < 0) {
      const int openError = errno;
      // A table that is not there could not be made: that is the cause.
      const bool absent = openError == ENOENT && createError != EEXIST;
      fail("CliUsers_ptr", __LINE__, FailureStep::Table, absent ? "cannot create" : "cannot open",
           absent ? createError : openError);
      return;
    }
  }
  descriptor_ = fd;
  struct stat status;
  if (fstat(fd, &status) != 0) {
    fail("CliUsers_ptr", __LINE__, FailureStep::Table, "cannot stat", errno);
  } else if (status.st_size < size && ftruncate(fd, size) != 0) {
    // A missing or short table is grown; one that another program made
    // larger is never shrunk, and none is cleared: a new one is all zero.
    const int error = errno;
    fail("CliUsers_ptr", __LINE__, FailureStep::Table,
         "cannot size to " + std::to_string(size) + " bytes", error);
  } else {
    void* address =
        mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address != MAP_FAILED) {
      address_ = static_cast<unsigned char*>(address);
      return;
    }
    fail("CliUsers_ptr", __LINE__, FailureStep::Table, "cannot map", errno);
  }
  close(fd);
  descriptor_ = -1;
}

void UserTable::unmap() {
  if (address_ != nullptr) munmap(address_, static_cast<size_t>(length_));
  address_ = nullptr;
  // Closing the descriptor drops every lock taken through it.
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  heldEntries_ = 0;
}

void UserTable::fail(const char* function, int line, FailureStep step, const std::string& what,
                     int error, bool logged) const {
  failure_ = ZUB_DEVICE_MEDIATION::FailureRecord();
  failure_.kind = FailureKind::NotConnected;
  failure_.step = step;
  failure_.path = name_;
  failure_.text = what;
  failure_.error = error;
  struct stat status;
  if ((error == EACCES || error == EPERM) &&
      (descriptor_ >= 0 ? fstat(descriptor_, &status) : stat(("/dev/shm" + name_).c_str(), &status)) == 0) {
    failure_.fileMode = status.st_mode;
    failure_.fileOwner = status.st_uid;
  }
  if (logged) {
    QorLogHelper(3, kLogFile, function, line).message(ZUB_DEVICE_MEDIATION::describeFailure(failure_));
  }
}

bool UserTable::covers(int index) const {
  return address_ != nullptr && index >= 0 && index < MAX_ENTRIES &&
         (index + 1) * SIZE <= length_;
}

bool UserTable::intact(const char* function) const {
  struct stat status;
  if (fstat(descriptor_, &status) != 0) {
    fail(function, __LINE__, FailureStep::Table, "cannot stat", errno);
    return false;
  }
  if (status.st_size >= length_) return true;
  fail(function, __LINE__, FailureStep::Table,
       "is " + std::to_string(status.st_size) + " bytes, shorter than the " +
           std::to_string(length_) + " mapped");
  return false;
}

bool UserTable::ownInUse(int index) const {
  const unsigned char* slot = slotAt(index);
  return slot[IN_USE_OFFSET] == IN_USE && slot[USER_TYPE_OFFSET] == OWN_USER_TYPE;
}

bool UserTable::mayWrite(int index, const char* function) const {
  if (holds(index)) return true;
  const unsigned char* slot = slotAt(index);
  std::string owner;
  if (slot[IN_USE_OFFSET] == IN_USE && slot[USER_TYPE_OFFSET] != OWN_USER_TYPE) {
    owner = "a program of user type " + std::to_string(slot[USER_TYPE_OFFSET]);
  } else if (lockedElsewhere(index, function)) {
    owner = "another host";
  } else {
    return true;
  }
  fail(function, __LINE__, FailureStep::Slot,
       "slot " + std::to_string(index) + " is held by " + owner);
  return false;
}

UserSlot UserTable::reserve() {
  const char* const function = "swmGetFreeCliUserIndex";
  // Without a mapping the cause was recorded when the table was opened.
  if (!covers(0) || !intact(function) || !lockReservations(function)) return UserSlot();
  const int index = reserveLocked();
  unlockReservations(function);
  return index >= 0 ? UserSlot(*this, index) : UserSlot();
}

int UserTable::reserveLocked() {
  const char* const function = "swmGetFreeCliUserIndex";
  int live = 0;
  if (sweep(function, live, nullptr) < 0) return -1;
  if (live >= kMaxOwnUsers) {
    fail(function, __LINE__, FailureStep::Slot,
         std::to_string(live) + " slots of this library's type are held by live hosts", 0, false);
    return -1;
  }
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (holds(i) || address_[i * SIZE + IN_USE_OFFSET] == IN_USE) continue;
    const Lock lock = lockEntry(i, function);
    if (lock == Lock::Failed) return -1;
    // Held elsewhere: its host is freeing it right now.
    if (lock == Lock::HeldElsewhere) continue;
    // Programs of other types take slots without locks: look again.
    if (address_[i * SIZE + IN_USE_OFFSET] == IN_USE) {
      unlockEntry(i, function);
      continue;
    }
    if (!take(i)) {  // recorded there
      unlockEntry(i, function);
      return -1;
    }
    failure_ = ZUB_DEVICE_MEDIATION::FailureRecord();
    return i;
  }
  fail(function, __LINE__, FailureStep::Slot, "no slot is free", 0, false);
  return -1;
}

int UserTable::sweep(const char* function, int& live, std::vector<StaleEntry>* report) {
  int freed = 0;
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (!ownInUse(i)) continue;
    if (holds(i)) {
      ++live;
      continue;
    }
    const Lock lock = lockEntry(i, function);
    if (lock == Lock::Failed) return -1;
    if (lock == Lock::HeldElsewhere) {
      ++live;
      continue;
    }
    // No other host holds it, so its host has ended. Looked at again under
    // the lock: the host may have freed it just before ending.
    if (ownInUse(i)) {
      StaleEntry entry = {i, loadInt(slotAt(i) + PID_OFFSET), false, false, ""};
      freeStaleEntry(i, entry, function);
      freed += entry.freed;
      if (report != nullptr) report->push_back(entry);
    }
    unlockEntry(i, function);
  }
  return freed;
}

void UserTable::freeStaleEntry(int index, StaleEntry& entry, const char* function) {
  const std::string slot = "slot " + std::to_string(index);
  if (processAlive(entry.pid)) {
    // Its host is gone but its CLI still runs, reading the slot's pipes.
    if (!isSlotCli(entry.pid, index)) {
      entry.why = "process " + std::to_string(entry.pid) +
                  " is alive and is not the CLI started for " + slot;
      return;
    }
    if (!endProcess(entry.pid)) {
      entry.why = "its CLI (process " + std::to_string(entry.pid) + ") could not be ended";
      return;
    }
    entry.endedCli = true;
  }
  std::memset(slotAt(index), 0, SIZE);
  entry.freed = true;
  QorLogHelper(4, kLogFile, function, __LINE__)
      .message("CLI user table " + name_ + ": freed stale " + slot + " (pid " +
               std::to_string(entry.pid) + ")" + (entry.endedCli ? ", its CLI ended" : ""));
}

bool UserTable::take(int index) {
  const char* const function = "swmUpdateCliUserEntry";
  if (!covers(index) || !intact(function) || !mayWrite(index, function)) return false;
  if (!holds(index)) {
    const Lock lock = lockEntry(index, function);
    if (lock == Lock::HeldElsewhere) {  // taken just now
      fail(function, __LINE__, FailureStep::Slot,
           "slot " + std::to_string(index) + " is held by another host");
    }
    if (lock != Lock::Taken) return false;
  }
  unsigned char* slot = slotAt(index);
  slot[IN_USE_OFFSET] = IN_USE;
  storeInt(slot + INDEX_OFFSET, index);
  storeInt(slot + MARK_OFFSET, MARK_VALUE);
  slot[USER_TYPE_OFFSET] = OWN_USER_TYPE;
  // A bounded copy that pads the 32-byte field with NUL bytes.
  std::strncpy(reinterpret_cast<char*>(slot + USER_NAME_OFFSET), kUserName, USER_NAME_SIZE);
  return true;
}

void UserTable::release(int index) {
  if (!covers(index) || !intact("initEntry") || !mayWrite(index, "initEntry")) return;
  // Zeroed before the lock goes: no host can take the slot while bytes of
  // this one are left in it.
  std::memset(slotAt(index), 0, SIZE);
  unlockEntry(index, "initEntry");
}

bool UserTable::setPid(int index, int pid) {
  if (!covers(index) || !intact("setPid") || !mayWrite(index, "setPid")) return false;
  storeInt(slotAt(index) + PID_OFFSET, pid);
  return true;
}

int UserTable::freeStale(std::vector<StaleEntry>* report) {
  const char* const function = "swmFreeStaleCliUsers";
  if (!covers(0) || !intact(function)) return -1;
  // Taken so that a reservation running meanwhile does not count an entry
  // locked only to be freed as a live one.
  if (!lockReservations(function)) return -1;
  int live = 0;
  const int freed = sweep(function, live, report);
  unlockReservations(function);
  return freed;
}

std::optional<UserTable::Entry> UserTable::read(int index) const {
  if (!covers(index) || !intact("readEntry")) return std::nullopt;
  Entry bytes;
  std::memcpy(bytes.data(), slotAt(index), SIZE);
  return bytes;
}

bool UserTable::held(int index) const {
  return covers(index) && (holds(index) || lockedElsewhere(index, "isSlotHeld"));
}

int UserTable::setLock(int index, short type, bool test) const {
  // Slot i's bytes; MAX_ENTRIES stands for the byte after the last slot.
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(index) * SIZE;
  lock.l_len = index < MAX_ENTRIES ? SIZE : 1;
  // l_pid stays 0, as open-file-description locks require.
  if (fcntl(descriptor_, test ? F_OFD_GETLK : F_OFD_SETLK, &lock) != 0) return errno;
  return test && lock.l_type != F_UNLCK ? EAGAIN : 0;
}

UserTable::Lock UserTable::lockEntry(int index, const char* function) {
  const int error = setLock(index, F_WRLCK, false);
  if (error == 0) heldEntries_ |= 1u << index;
  if (error == 0 || isLockConflict(error)) return error == 0 ? Lock::Taken : Lock::HeldElsewhere;
  fail(function, __LINE__, FailureStep::Table, "cannot lock slot " + std::to_string(index), error);
  return Lock::Failed;
}

void UserTable::unlockEntry(int index, const char* function) {
  if (!holds(index)) return;
  // On failure the lock stays until the descriptor is closed.
  const int error = setLock(index, F_UNLCK, false);
  if (error == 0) heldEntries_ &= ~(1u << index);
  if (error != 0) {
    fail(function, __LINE__, FailureStep::Table, "cannot unlock slot " + std::to_string(index),
         error);
  }
}

bool UserTable::lockedElsewhere(int index, const char* function) const {
  // Locks of this object's own open never show here: they do not conflict
  // with it.
  const int error = setLock(index, F_WRLCK, true);
  if (error != 0 && error != EAGAIN) {
    fail(function, __LINE__, FailureStep::Table, "cannot test slot " + std::to_string(index),
         error);
  }
  return error == EAGAIN;
}

bool UserTable::lockReservations(const char* function) {
  const auto deadline = std::chrono::steady_clock::now() + kReservationWait;
  // A waiting lock has no deadline: pause in poll, then try again.
  for (; isLockConflict(setLock(MAX_ENTRIES, F_WRLCK, false)); poll(nullptr, 0, 1)) {
    if (std::chrono::steady_clock::now() < deadline) continue;
    fail(function, __LINE__, FailureStep::Table,
         "another host has been reserving a slot for over " +
             std::to_string(kReservationWait.count()) + " ms");
    return false;
  }
  const int error = setLock(MAX_ENTRIES, F_WRLCK, false);
  if (error != 0) fail(function, __LINE__, FailureStep::Table, "cannot lock it for a reservation", error);
  return error == 0;
}

void UserTable::unlockReservations(const char* function) {
  const int error = setLock(MAX_ENTRIES, F_UNLCK, false);
  if (error != 0) {
    fail(function, __LINE__, FailureStep::Table, "cannot unlock it after a reservation", error);
  }
}

UserSlot::UserSlot(UserTable& table, int index)
    : table_(&table), index_(index), owner_(getpid()) {}

UserSlot::UserSlot(UserSlot&& other) noexcept { *this = std::move(other); }

UserSlot& UserSlot::operator=(UserSlot&& other) noexcept {
  if (this == &other) return *this;
  if (table_ != nullptr && owner_ == getpid()) table_->release(index_);
  table_ = std::exchange(other.table_, nullptr);
  index_ = other.index_;
  owner_ = other.owner_;
  return *this;
}

UserSlot::~UserSlot() {
  // A forked copy of the process leaves the slot to the process that has it.
  if (owner_ == getpid() && table_ != nullptr) table_->release(index_);
}

int UserSlot::release() {
  const int index = this->index();
  table_ = nullptr;
  return index;
}

}  // namespace internal
}  // namespace zubdm
