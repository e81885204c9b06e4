#include "registry/CliUserInfo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
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

namespace {

const int kEntry = CliUserInfo::ENTRY_SIZE;
const int kSize = SimulatorEnvironment::TABLE_SIZE;

struct SlotPreset {
  int index;
  unsigned char inUse;
  unsigned char type;
  int32_t pid;
};

std::vector<unsigned char> tableWith(const std::vector<SlotPreset>& slots) {
  std::vector<unsigned char> bytes(kSize, 0);
  for (const SlotPreset& slot : slots) {
    bytes[slot.index * kEntry + 4] = slot.inUse;
    bytes[slot.index * kEntry + 5] = slot.type;
    std::memcpy(&bytes[slot.index * kEntry + 72], &slot.pid, sizeof slot.pid);
  }
  return bytes;
}

// Another host's open of the table, holding the locks of `slots` until it
// is closed, as a host does until it ends.
int otherHost(const std::string& table, const std::vector<int>& slots) {
  const int fd = shm_open(table.c_str(), O_RDWR, 0);
  for (int slot : slots) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_start = slot * kEntry;
    lock.l_len = kEntry;
    EXPECT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0) << slot;
  }
  return fd;
}

// What `body` returns, run in a forked child, so that a SIGBUS or a change
// of user ends the child only; "signal N" when the child was killed.
std::string inChild(const std::function<std::string()>& body) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string text = body();
    (void)!write(out[1], text.data(), text.size());
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : text;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "|" + line;
  return text;
}

}  // namespace

TEST(CliUserSlots, StaleEntriesOfOurTypeAreFreedAndOnlyLiveHoldersCount) {
  std::vector<SlotPreset> allTaken;
  for (int i = 0; i < 15; ++i) allTaken.push_back({i, 1, 1, 0});
  struct Row {
    const char* name;
    std::vector<SlotPreset> slots;  // entries before the step
    std::vector<int> heldByOther;   // slots another host holds the locks of
    bool sweepOnly;                 // swmFreeStaleCliUsers, not a reservation
    int result;                     // slot reserved, or entries freed
    std::vector<int> freed;         // zeroed and logged as stale
    std::vector<int> held;          // isSlotHeld afterwards
    const char* cause;              // failureCause() after the table's name
  } rows[] = {
      {"empty table", {}, {}, false, 0, {}, {0}, ""},
      {"in-use flag other than 1 is free", {{0, 2, 2, 8}, {1, 0xFF, 2, 9}}, {}, false, 0, {}, {0}, ""},
      {"held entry of our type stays", {{0, 1, 2, 11}}, {0}, false, 1, {}, {0, 1}, ""},
      {"free slot still locked by its host", {}, {0}, false, 1, {}, {0, 1}, ""},
      {"stale entry of our type is reused", {{0, 1, 2, 4321}}, {}, false, 0, {0}, {0}, ""},
      {"other types are never freed", {{0, 1, 1, 5}, {1, 1, 3, 6}, {2, 1, 0, 7}}, {}, false, 3, {}, {3}, ""},
      {"only live holders count toward three",
       {{0, 1, 2, 1}, {1, 1, 2, 2}, {2, 1, 2, 3}, {3, 1, 2, 4}}, {0, 1}, false, 2, {2, 3}, {0, 1, 2}, ""},
      {"three live holders are the limit", {{0, 1, 2, 1}, {1, 1, 2, 2}, {2, 1, 2, 3}, {5, 1, 2, 4}},
       {0, 1, 2}, false, -1, {5}, {0, 1, 2}, "3 slots of this library's type are held by live hosts"},
      {"every slot taken", allTaken, {}, false, -1, {}, {}, "no slot is free"},
      {"sweep on request", {{0, 1, 2, 70}, {1, 1, 2, 77}, {2, 1, 1, 0}, {3, 1, 2, 78}}, {0}, true, 2,
       {1, 3}, {0}, ""},
  };
  SimulatorEnvironment table;
  const std::string prefix = "CLI user table " + table.tableName() + ": ";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<unsigned char> expected = tableWith(row.slots);
    table.writeTable(expected);
    const int other = otherHost(table.tableName(), row.heldByOther);
    CliUserInfo info(table.tableName().c_str(), kSize);
    LogCapture logs;
    EXPECT_EQ(row.sweepOnly ? swmFreeStaleCliUsers(info) : swmGetFreeCliUserIndex(info), row.result);
    std::vector<std::string> lines;
    for (int slot : row.freed) {
      int32_t pid;
      std::memcpy(&pid, &expected[slot * kEntry + 72], sizeof pid);
      lines.push_back(prefix + "freed stale slot " + std::to_string(slot) + " (pid " +
                      std::to_string(pid) + ")");
      std::fill_n(expected.begin() + slot * kEntry, kEntry, 0);
    }
    const std::vector<unsigned char> after = table.readTable();
    if (!row.sweepOnly && row.result >= 0)  // its bytes: WritesOnlyItsOwnFieldsIntoTheEntry
      std::copy_n(&after[row.result * kEntry], kEntry, &expected[row.result * kEntry]);
    EXPECT_EQ(after, expected);
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
  struct Row {
    const char* name;
    int hosts;    // forked processes, one CliUserInfo each
    int threads;  // threads of this process, one CliUserInfo each
  } rows[] = {{"forked hosts", 6, 0}, {"threads of one host", 0, 6}, {"both", 3, 3}};
  SimulatorEnvironment table;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (int round = 0; round < 40; ++round) {
      table.writeTable(std::vector<unsigned char>(kSize, 0));
      int start[2], results[2], done[2];
      ASSERT_EQ(pipe2(start, O_CLOEXEC) | pipe2(results, O_CLOEXEC) | pipe2(done, O_CLOEXEC), 0);
      // Reserves when `start` ends, then holds the slot until `done` ends.
      const auto race = [&] {
        CliUserInfo info(table.tableName().c_str(), kSize);
        char byte;
        (void)!read(start[0], &byte, 1);
        const int32_t index = swmGetFreeCliUserIndex(info);
        (void)!write(results[1], &index, sizeof index);
        (void)!read(done[0], &byte, 1);
      };
      std::vector<pid_t> hosts;
      for (int h = 0; h < row.hosts; ++h) {
        hosts.push_back(fork());
        if (hosts.back() != 0) continue;
        close(start[1]);
        close(done[1]);
        race();
        _exit(0);
      }
      std::vector<std::thread> threads;
      for (int t = 0; t < row.threads; ++t) threads.emplace_back(race);
      close(start[1]);
      std::multiset<int32_t> taken;
      for (int32_t index, n = 0; n < row.hosts + row.threads; ++n) {
        if (read(results[0], &index, sizeof index) != sizeof index) break;
        if (index != -1) taken.insert(index);
      }
      close(done[1]);
      for (std::thread& thread : threads) thread.join();
      for (pid_t host : hosts) waitpid(host, nullptr, 0);
      for (int fd : {start[0], results[0], results[1], done[0]}) close(fd);
      EXPECT_EQ(taken.size(), 3u) << "round " << round;
      EXPECT_EQ(std::set<int32_t>(taken.begin(), taken.end()).size(), taken.size())
          << "round " << round;
    }
  }
}

TEST(CliUserTable, ShrunkByAnotherProcessFailsEachStepWithALogLineNotSIGBUS) {
  struct Row {
    const char* name;
    std::function<int(CliUserInfo&)> step;  // its result
  } rows[] = {
      {"setPid", [](CliUserInfo& info) { return info.setPid(0, 77); }},
      {"initEntry", [](CliUserInfo& info) { info.initEntry(0); return -1; }},
      {"reservation", swmGetFreeCliUserIndex},
      {"filling an entry", [](CliUserInfo& info) { return swmUpdateCliUserEntry(1, info); }},
      {"freeing stale entries", swmFreeStaleCliUsers},
      {"reading an entry", [](CliUserInfo& info) { return info.readEntry(0) ? 0 : -1; }},
  };
  SimulatorEnvironment table;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    table.writeTable(std::vector<unsigned char>(kSize, 0));
    CliUserInfo info(table.tableName().c_str(), kSize);
    ASSERT_EQ(swmGetFreeCliUserIndex(info), 0);
    table.writeTable({});
    EXPECT_EQ(inChild([&] {
                LogCapture logs;
                const int result = row.step(info);
                return std::to_string(result) + joined(logs.texts());
              }),
              "-1|CLI user table " + table.tableName() + ": is 0 bytes, shorter than the 1740 mapped");
  }
}

TEST(CliUserTable, CauseOfAnUnusableTableGivesTheErrorAndForPermissionTheOwner) {
  SimulatorEnvironment table;
  ASSERT_EQ(chmod(("/dev/shm" + table.tableName()).c_str(), 0), 0);
  const struct passwd* nobody = getpwnam("nobody");
  struct Row {
    const char* name;
    const char* table;  // null: no table named
    bool asNobody;      // opened by an unprivileged user
    std::string cause;  // failureCause(), also logged once when not empty
  } rows[] = {
      {"no table named", nullptr, false, "no CLI user table is mapped"},
      {"name that cannot be opened", "/zubdm-no/such-name", false,
       "CLI user table /zubdm-no/such-name: cannot open: Invalid argument"},
      {"no permission", table.tableName().c_str(), true,
       "CLI user table " + table.tableName() + ": cannot open: Permission denied (owner uid " +
           std::to_string(geteuid()) + ", mode 0000)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.asNobody && (geteuid() != 0 || nobody == nullptr)) GTEST_SKIP() << "needs root";
    const std::string logged = row.table ? "|" + row.cause : "";
    EXPECT_EQ(inChild([&] {
                if (row.asNobody && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
                  return std::string("still root");
                LogCapture logs;
                CliUserInfo info(row.table, kSize);
                const int reserved = swmGetFreeCliUserIndex(info);
                const int pid = info.setPid(0, 1);
                return info.failureCause() + " " + std::to_string(reserved) + " " +
                       std::to_string(pid) + joined(logs.texts());
              }),
              row.cause + " -1 -1" + logged);
  }
}

TEST(CliUserReservation, WritesOnlyItsOwnFieldsIntoTheEntry) {
  SimulatorEnvironment table;
  std::vector<unsigned char> expected(kSize, 0xAB);
  expected[4] = 1;  // slot 0 taken by another program: slot 1 is reserved
  expected[kEntry + 4] = 0;
  table.writeTable(expected);
  {
    CliUserInfo info(table.tableName().c_str(), kSize);
    ASSERT_EQ(swmGetFreeCliUserIndex(info), 1);
    EXPECT_EQ(info.setPid(1, 4242), 4242);
  }
  unsigned char* const entry = &expected[kEntry];
  const int32_t fields[][2] = {{0, 1}, {72, 4242}, {108, 15}};  // offset, value
  for (const auto& field : fields) std::memcpy(entry + field[0], &field[1], 4);
  entry[4] = 1;
  entry[5] = 2;
  const char name[32] = "QOR_SW_MANAGEMENT";  // NUL-padded to 32 bytes
  std::memcpy(entry + 32, name, sizeof name);
  EXPECT_EQ(table.readTable(), expected);
}

TEST(CliUserSlots, InvalidIndicesWriteNothingAndFreedSlotsAreReused) {
  SimulatorEnvironment table;
  LogCapture logs;
  CliUserInfo info(table.tableName().c_str(), kSize);
  CliUserInfo other(table.tableName().c_str(), kSize);
  const std::vector<unsigned char> before = table.readTable();
  for (int index : {-1, 15, 1000}) {
    SCOPED_TRACE(index);
    EXPECT_FALSE(info.isValidEntry(index));
    EXPECT_EQ(info.setPid(index, 99), -1);
    info.initEntry(index);
    EXPECT_EQ(swmUpdateCliUserEntry(index, info), -1);
    EXPECT_FALSE(info.readEntry(index));
  }
  EXPECT_EQ(table.readTable(), before);

  ASSERT_EQ(swmGetFreeCliUserIndex(info), 0);
  ASSERT_EQ(swmGetFreeCliUserIndex(info), 1);
  EXPECT_EQ(swmUpdateCliUserEntry(1, other), -1);
  EXPECT_EQ(other.failureCause(),
            "CLI user table " + table.tableName() + ": slot 1 is held by another host");
  info.initEntry(0);
  EXPECT_FALSE(other.isSlotHeld(0));
  EXPECT_TRUE(other.isSlotHeld(1));
  EXPECT_EQ(*info.readEntry(0), CliUserInfo::Entry{});
  EXPECT_EQ(swmGetFreeCliUserIndex(other), 0);
  EXPECT_EQ(other.failureCause(), "");
}

TEST(CliUserTable, OpeningNeverShrinksOrClearsAnExistingObject) {
  struct Row {
    const char* name;
    size_t existingSize;  // 0: no object
    size_t expectedSize;  // bytes of 0x5A kept, zero bytes added
  } rows[] = {
      {"absent: created and zeroed", 0, 1740},
      {"shorter: grown, bytes kept", 600, 1740},
      {"same size: kept", 1740, 1740},
      {"larger: size and tail kept", 4096, 4096},
  };
  SimulatorEnvironment table;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    table.removeTable();
    std::vector<unsigned char> expected(row.existingSize, 0x5A);
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
    unsigned char* const address = first.entry(0);
    {
      CliUserInfo second(first);
      EXPECT_FALSE(first.isValidEntry(0));
      CliUsers_ptr moved(table.tableName().c_str(), kSize);
      CliUsers_ptr third;
      third = moved;
      third = third;
      EXPECT_EQ(moved.get(), nullptr);
      third[14][4] = 1;  // still mapped and writable
      EXPECT_EQ(second.entry(0), address);
      EXPECT_TRUE(observer.isSlotHeld(0)) << "the lock moved with the mapping";
    }
    EXPECT_FALSE(observer.isSlotHeld(0)) << "released by the last holder";
  }
  EXPECT_EQ(table.readTable()[14 * kEntry + 4], 1);
  EXPECT_EQ(ProcessState::openDescriptors(), descriptors + 1);
}
