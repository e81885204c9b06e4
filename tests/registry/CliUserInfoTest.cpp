#include "registry/CliUserInfo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "support/LogCapture.h"
#include "support/SimulatorEnvironment.h"

using ZUB_DEVICE_MEDIATION::CliUserInfo;
using ZUB_DEVICE_MEDIATION::CliUsers_ptr;
using ZUB_DEVICE_MEDIATION::swmGetFreeCliUserIndex;
using ZUB_DEVICE_MEDIATION::swmUpdateCliUserEntry;

namespace {

const int kEntry = CliUserInfo::ENTRY_SIZE;
const int kSize = SimulatorEnvironment::TABLE_SIZE;

struct SlotPreset {
  int index;
  unsigned char inUse;
  unsigned char type;
};

std::vector<unsigned char> tableWith(const std::vector<SlotPreset>& slots) {
  std::vector<unsigned char> bytes(SimulatorEnvironment::TABLE_SIZE, 0);
  for (const SlotPreset& slot : slots) {
    bytes[slot.index * kEntry + 4] = slot.inUse;
    bytes[slot.index * kEntry + 5] = slot.type;
  }
  return bytes;
}

int32_t intAt(const std::vector<unsigned char>& bytes, int offset) {
  int32_t value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
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

TEST(CliUserReservation, ChoosesFirstFreeSlotWithinTheLimitOfThree) {
  SimulatorEnvironment table;
  std::vector<SlotPreset> othersInAllButFirst;
  for (int i = 1; i < 15; ++i) othersInAllButFirst.push_back({i, 1, 7});
  std::vector<SlotPreset> allTaken;
  for (int i = 0; i < 15; ++i) allTaken.push_back({i, 1, 1});
  struct Case {
    const char* name;
    std::vector<SlotPreset> slots;
    int expected;
  } cases[] = {
      {"empty table", {}, 0},
      {"slots 0 and 1 taken", {{0, 1, 1}, {1, 1, 2}}, 2},
      {"only slot 0 free, others of other types", othersInAllButFirst, 0},
      {"in-use flag other than 1 is free", {{0, 2, 2}, {1, 0xFF, 2}}, 0},
      {"three of our type", {{0, 1, 2}, {3, 1, 2}, {9, 1, 2}}, -1},
      {"two of our type and others", {{0, 1, 2}, {1, 1, 1}, {2, 1, 2}}, 3},
      {"every slot taken", allTaken, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table.writeTable(tableWith(c.slots));
    CliUserInfo info(table.tableName().c_str(), SimulatorEnvironment::TABLE_SIZE);
    EXPECT_EQ(swmGetFreeCliUserIndex(info), c.expected);
  }
}

TEST(CliUserReservation, WritesOnlyItsOwnFieldsIntoTheEntry) {
  SimulatorEnvironment table;
  table.writeTable(std::vector<unsigned char>(SimulatorEnvironment::TABLE_SIZE, 0xAB));
  // Slot 0 taken by another program, so slot 1 is reserved.
  std::vector<unsigned char> bytes = table.readTable();
  bytes[4] = 1;
  bytes[kEntry + 4] = 0;
  table.writeTable(bytes);
  {
    CliUserInfo info(table.tableName().c_str(), SimulatorEnvironment::TABLE_SIZE);
    ASSERT_EQ(swmGetFreeCliUserIndex(info), 1);
    EXPECT_EQ(info.setPid(1, 4242), 4242);
  }
  const std::vector<unsigned char> after = table.readTable();
  const int base = kEntry;
  EXPECT_EQ(intAt(after, base + 0), 1);
  EXPECT_EQ(after[base + 4], 1);
  EXPECT_EQ(after[base + 5], 2);
  const char name[32] = "QOR_SW_MANAGEMENT";  // NUL-padded to 32 bytes
  EXPECT_EQ(std::memcmp(after.data() + base + 32, name, 32), 0);
  EXPECT_EQ(intAt(after, base + 72), 4242);
  EXPECT_EQ(intAt(after, base + 108), 15);
  for (int offset : {6, 31, 64, 71, 76, 107, 112, 115}) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(after[base + offset], 0xAB);
  }
  // Other slots are untouched.
  EXPECT_EQ(after[4], 1);
  EXPECT_EQ(after[2 * kEntry + 4], 0xAB);
}

TEST(CliUserSlots, InvalidIndicesWriteNothingAndFreedSlotsAreReused) {
  SimulatorEnvironment table;
  CliUserInfo info(table.tableName().c_str(), SimulatorEnvironment::TABLE_SIZE);
  const std::vector<unsigned char> before = table.readTable();
  for (int index : {-1, 15, 1000}) {
    SCOPED_TRACE(index);
    EXPECT_FALSE(info.isValidEntry(index));
    EXPECT_EQ(info.setPid(index, 99), -1);
    info.initEntry(index);
    EXPECT_EQ(swmUpdateCliUserEntry(index, info), -1);
  }
  EXPECT_EQ(table.readTable(), before);

  ASSERT_EQ(swmGetFreeCliUserIndex(info), 0);
  ASSERT_EQ(swmGetFreeCliUserIndex(info), 1);
  info.initEntry(0);
  const std::vector<unsigned char> after = table.readTable();
  EXPECT_EQ(std::vector<unsigned char>(after.begin(), after.begin() + kEntry),
            std::vector<unsigned char>(kEntry, 0));
  EXPECT_EQ(swmGetFreeCliUserIndex(info), 0);
}

TEST(CliUserTable, OpeningNeverShrinksOrClearsAnExistingObject) {
  SimulatorEnvironment table;
  struct Case {
    const char* name;
    size_t existingSize;  // 0: no object
    size_t expectedSize;
  } cases[] = {
      {"absent: created and zeroed", 0, 1740},
      {"shorter: grown, bytes kept", 600, 1740},
      {"same size: kept", 1740, 1740},
      {"larger: size and tail kept", 4096, 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table.removeTable();
    if (c.existingSize > 0) {
      table.writeTable(std::vector<unsigned char>(c.existingSize, 0x5A));
    }
    {
      CliUserInfo info(table.tableName().c_str(), SimulatorEnvironment::TABLE_SIZE);
      EXPECT_TRUE(info.isValidEntry(14));
    }
    const std::vector<unsigned char> after = table.readTable();
    ASSERT_EQ(after.size(), c.expectedSize);
    const unsigned char kept = c.existingSize > 0 ? 0x5A : 0;
    const size_t keptEnd = c.existingSize > 0 ? c.existingSize : after.size();
    EXPECT_EQ(after.front(), kept);
    EXPECT_EQ(after[keptEnd - 1], kept);
    if (keptEnd < after.size()) {
      EXPECT_EQ(after[keptEnd], 0);
      EXPECT_EQ(after.back(), 0);
    }
  }
}

TEST(CliUserTable, CopyingMovesTheMappingAndTheSourceReleasesNothing) {
  SimulatorEnvironment table;
  CliUsers_ptr first(table.tableName().c_str(), SimulatorEnvironment::TABLE_SIZE);
  ASSERT_NE(first.get(), nullptr);
  unsigned char* const address = first.get();
  {
    CliUsers_ptr second(first);
    EXPECT_EQ(first.get(), nullptr);
    EXPECT_EQ(second.get(), address);
    CliUsers_ptr third;
    third = second;
    third = third;
    EXPECT_EQ(second.get(), nullptr);
    ASSERT_EQ(third.get(), address);
    third[14][4] = 1;  // still mapped and writable
  }
  EXPECT_EQ(table.readTable()[14 * kEntry + 4], 1);
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
