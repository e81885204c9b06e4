#include <zubdm/registry/CliUserInfo.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "support/LogCapture.h"
#include "support/ProcessState.h"
#include "support/SimulatorEnvironment.h"

using ZUB_DEVICE_MEDIATION::CliUserInfo;
using ZUB_DEVICE_MEDIATION::CliUsers_ptr;
using ZUB_DEVICE_MEDIATION::swmFreeStaleCliUsers;
using ZUB_DEVICE_MEDIATION::swmGetFreeCliUserIndex;
using ZUB_DEVICE_MEDIATION::swmUpdateCliUserEntry;
using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

namespace {

const int kEntry = CliUserEntry::SIZE;
const int32_t kGonePid = 0x7fff0000;
const int kSize = SimulatorEnvironment::TABLE_SIZE;

// A table of 0xAB bytes (every slot free) whose slot i is set by `slots[i]`:
// a digit is in use by that user type (2: this library's), '?' carries the
// in-use flag 2 with this library's type, '.' is free. Slot i records the
// process id kGonePid + i, beyond any process id the kernel gives.
Bytes tableWith(const std::string& slots) {
  Bytes bytes(kSize, 0xAB);
  for (size_t i = 0; i < slots.size(); ++i) {
    if (slots[i] == '.') continue;
    const int32_t pid = static_cast<int32_t>(kGonePid + i);
    bytes[i * kEntry + 4] = slots[i] == '?' ? 2 : 1;
    bytes[i * kEntry + 5] = static_cast<unsigned char>(slots[i] == '?' ? 2 : slots[i] - '0');
    std::memcpy(&bytes[i * kEntry + 72], &pid, sizeof pid);
  }
  return bytes;
}

// Whether `body` returns true, run in a forked child so that a SIGBUS or a
// change of user ends the child only.
bool inChild(const std::function<bool()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body() ? 0 : 1);
  int status = -1;
  return waitpid(pid, &status, 0) == pid && status == 0;
}

}  // namespace

TEST(CliUserSlots, StaleEntriesAreFreedOnlyLiveHoldersCountAndOnlyOwnFieldsAreWritten) {
  const struct {
    const char* name;
    std::string slots;             // entries before the step, see tableWith
    std::vector<int> heldByOther;  // slots another host holds the locks of
    bool sweepOnly;                // swmFreeStaleCliUsers, not a reservation
    int result;                    // slot reserved, or entries freed
    std::vector<int> freed;        // zeroed and logged as stale
    std::vector<int> held;         // isSlotHeld afterwards
    const char* cause;             // failureCause() after the table's name
  } rows[] = {
      {"empty table", "", {}, false, 0, {}, {0}, ""},
      {"in-use flag other than 1 is free", "?", {}, false, 0, {}, {0}, ""},
      {"held entry of our type stays", "2", {0}, false, 1, {}, {0, 1}, ""},
      {"free slot still locked by its host", "", {0}, false, 1, {}, {0, 1}, ""},
      {"stale entry of our type is reused", "2", {}, false, 0, {0}, {0}, ""},
      {"other types are never freed", "130", {}, false, 3, {}, {3}, ""},
      {"only live holders count toward three", "2222", {0, 1}, false, 2, {2, 3}, {0, 1, 2}, ""},
      {"three live holders are the limit", "222..2", {0, 1, 2}, false, -1, {5}, {0, 1, 2},
       "3 slots of this library's type are held by live hosts"},
      {"every slot taken", std::string(15, '1'), {}, false, -1, {}, {}, "no slot is free"},
      {"foreign types in every slot", "345634563456345", {}, false, -1, {}, {}, "no slot is free"},
      {"sweep on request", "2212", {0}, true, 2, {1, 3}, {0}, ""},
  };
  SimulatorEnvironment table;
  const std::string prefix = "CLI user table " + table.tableName() + ": ";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes expected = tableWith(row.slots);
    table.writeTable(expected);
    // Another host's open of the table, holding slot locks until it is closed.
    const int other = shm_open(table.tableName().c_str(), O_RDWR, 0);
    for (int slot : row.heldByOther) {
      struct flock lock = {F_WRLCK, SEEK_SET, static_cast<off_t>(slot * kEntry), kEntry, 0};
      EXPECT_EQ(fcntl(other, F_OFD_SETLK, &lock), 0);
    }
    CliUserInfo info(table.tableName().c_str(), kSize);
    LogCapture logs;
    EXPECT_EQ(row.sweepOnly ? swmFreeStaleCliUsers(info) : swmGetFreeCliUserIndex(info), row.result);
    Lines lines;
    for (int slot : row.freed) {
      lines.push_back(prefix + "freed stale slot " + std::to_string(slot) + " (pid " +
                      std::to_string(kGonePid + slot) + ")");
      std::fill_n(expected.begin() + slot * kEntry, kEntry, 0);
    }
    if (!row.sweepOnly && row.result >= 0) {
      unsigned char* const entry = &expected[row.result * kEntry];
      const int32_t fields[][2] = {{0, row.result}, {108, 15}};  // offset, value
      for (const auto& field : fields) std::memcpy(entry + field[0], &field[1], 4);
      entry[4] = 1;
      entry[5] = 2;
      const char name[32] = "QOR_SW_MANAGEMENT";  // NUL-padded to 32 bytes
      std::memcpy(entry + 32, name, sizeof name);
    }
    EXPECT_EQ(table.readTable(), expected);
    EXPECT_EQ(logs.texts(), lines);
    std::vector<int> held;
    for (int i = -1; i <= 15; ++i)
      if (info.isSlotHeld(i)) held.push_back(i);
    EXPECT_EQ(held, row.held);
    EXPECT_EQ(info.failureCause(), *row.cause ? prefix + row.cause : "");
    close(other);
  }
}

TEST(CliUserConcurrency, HostsReservingAtOnceNeverShareASlotNorExceedThree) {
  SimulatorEnvironment table;
  for (int round = 0; round < 40; ++round) {
    table.writeTable(Bytes(kSize, 0));
    // Six hosts, each with its own open of the table, reserve at once and
    // hold their slots until all are done.
    std::unique_ptr<CliUserInfo> hosts[6];
    int slots[6];
    std::atomic<int> waiting{6};
    std::vector<std::thread> threads;
    for (int h = 0; h < 6; ++h) {
      threads.emplace_back([&, h] {
        hosts[h].reset(new CliUserInfo(table.tableName().c_str(), kSize));
        for (--waiting; waiting.load() > 0;) std::this_thread::yield();
        slots[h] = swmGetFreeCliUserIndex(*hosts[h]);
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::multiset<int>(slots, slots + 6), (std::multiset<int>{-1, -1, -1, 0, 1, 2})) << round;
  }
}

TEST(CliUserTable, ShrunkByAnotherProcessFailsEachStepWithALogLineNotSIGBUS) {
  const struct {
    const char* name;
    std::function<int(CliUserInfo&)> step;  // its result
  } rows[] = {
      {"setPid", [](CliUserInfo& info) { return info.setPid(0, 77); }},
      {"initEntry", [](CliUserInfo& info) { return info.initEntry(0), -1; }},
      {"reservation", swmGetFreeCliUserIndex},
      {"filling an entry", [](CliUserInfo& info) { return swmUpdateCliUserEntry(1, info); }},
      {"freeing stale entries", [](CliUserInfo& info) { return swmFreeStaleCliUsers(info); }},
      {"reading an entry", [](CliUserInfo& info) { return info.readEntry(0) ? 0 : -1; }},
  };
  SimulatorEnvironment table;
  const Lines logged = {"CLI user table " + table.tableName() + ": is 0 bytes, shorter than the 1740 mapped"};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    table.writeTable(Bytes(kSize, 0));
    CliUserInfo info(table.tableName().c_str(), kSize);
    ASSERT_EQ(swmGetFreeCliUserIndex(info), 0);
    table.writeTable({});
    EXPECT_TRUE(inChild([&] {
      LogCapture logs;
      return row.step(info) == -1 && logs.texts() == logged;
    }));
  }
}

TEST(CliUserTable, CauseOfAnUnusableTableGivesTheErrorAndForPermissionTheOwner) {
  SimulatorEnvironment table;
  ASSERT_EQ(chmod(("/dev/shm" + table.tableName()).c_str(), 0), 0);
  const struct passwd* nobody = getpwnam("nobody");
  const struct {
    const char* table;
    bool asNobody;      // opened by an unprivileged user
    std::string cause;  // failureCause(), also logged once
  } rows[] = {
      {"/zubdm-no/such-name", false, "CLI user table /zubdm-no/such-name: cannot open: Invalid argument"},
      {table.tableName().c_str(), true,
       "CLI user table " + table.tableName() + ": cannot open: Permission denied (owner uid " +
           std::to_string(geteuid()) + ", mode 0000)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cause);
    if (row.asNobody && (geteuid() != 0 || nobody == nullptr)) continue;  // needs root
    EXPECT_TRUE(inChild([&] {
      LogCapture logs;
      if (row.asNobody && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) return false;
      CliUserInfo info(row.table, kSize);
      return swmGetFreeCliUserIndex(info) == -1 && info.setPid(0, 1) == -1 &&
             info.failureCause() == row.cause && logs.texts() == Lines{row.cause};
    }));
  }
}

TEST(CliUserSlots, EntriesOutsideTheMappingAreNeverWrittenAndFreedSlotsAreReused) {
  SimulatorEnvironment table;
  CliUserInfo info(table.tableName().c_str(), kSize), other(table.tableName().c_str(), kSize);
  // A mapping shorter than the table's 15 entries covers the first 5 only.
  CliUserInfo shorter(table.tableName().c_str(), 5 * kEntry + 50);
  const struct {
    CliUserInfo* user;
    int index;  // outside its mapping
  } rows[] = {{&info, -1}, {&info, 15}, {&shorter, 5}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.index);
    row.user->initEntry(row.index);
    EXPECT_FALSE(row.user->isValidEntry(row.index) || row.user->readEntry(row.index));
    EXPECT_EQ(row.user->setPid(row.index, 99) | swmUpdateCliUserEntry(row.index, *row.user), -1);
  }
  EXPECT_EQ(table.readTable(), Bytes(kSize, 0));
  // Another program's entry, which it holds without a lock, is left alone.
  table.writeTable(tableWith(".3"));
  info.initEntry(1);
  EXPECT_EQ(info.setPid(1, 99) | swmUpdateCliUserEntry(1, info), -1);
  EXPECT_EQ(info.failureCause(),
            "CLI user table " + table.tableName() + ": slot 1 is held by a program of user type 3");
  EXPECT_TRUE(table.readTable() == tableWith(".3") && !info.isSlotHeld(1));
  table.writeTable(Bytes(kSize, 0));

  // So is another host's.
  ASSERT_EQ(swmGetFreeCliUserIndex(info), 0);
  const Bytes taken = table.readTable();
  other.initEntry(0);
  EXPECT_EQ(other.setPid(0, 99) | swmUpdateCliUserEntry(0, other), -1);
  EXPECT_EQ(other.failureCause(), "CLI user table " + table.tableName() + ": slot 0 is held by another host");
  EXPECT_EQ(table.readTable(), taken);
  info.initEntry(0);
  EXPECT_EQ(swmGetFreeCliUserIndex(other), 0) << "the freed slot is free for others";
}

TEST(CliUserTable, OpeningNeverShrinksOrClearsAnExistingObject) {
  const struct {
    const char* name;
    size_t existingSize;  // 0: no object
    size_t expectedSize;  // bytes of 0x5A kept, zero bytes added
  } rows[] = {
      {"absent: created and zeroed", 0, 1740},
      {"shorter: grown, bytes kept", 600, 1740},
      {"larger: size and tail kept", 4096, 4096},
  };
  SimulatorEnvironment table;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    table.removeTable();
    Bytes expected(row.existingSize, 0x5A);
    if (row.existingSize > 0) table.writeTable(expected);
    EXPECT_TRUE(CliUserInfo(table.tableName().c_str(), kSize).isValidEntry(14));
    expected.resize(row.expectedSize, 0);
    EXPECT_EQ(table.readTable(), expected);
  }
}

TEST(CliUserTable, CopyingMovesTheMappingAndItsLocksAndTheLastHolderReleasesThem) {
  SimulatorEnvironment table;
  const int descriptors = ProcessState::openDescriptors();
  CliUserInfo observer(table.tableName().c_str(), kSize);
  {
    CliUserInfo first(table.tableName().c_str(), kSize);
    ASSERT_EQ(swmGetFreeCliUserIndex(first), 0);
    const CliUserInfo second(first);
    EXPECT_FALSE(first.isValidEntry(0));
    EXPECT_TRUE(second.isValidEntry(0) && observer.isSlotHeld(0)) << "the lock moved with the mapping";
    CliUsers_ptr moved(table.tableName().c_str(), kSize), third;
    third = moved;
    third = third;
    EXPECT_EQ(moved.get(), nullptr);
    third[14][4] = 1;  // still mapped and writable
  }
  EXPECT_FALSE(observer.isSlotHeld(0)) << "released by the last holder";
  EXPECT_EQ(table.readTable()[14 * kEntry + 4], 1);
  EXPECT_EQ(ProcessState::openDescriptors(), descriptors + 1);
}
