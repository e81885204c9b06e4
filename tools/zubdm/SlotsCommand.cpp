#include "SlotsCommand.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ExitStatus.h"
#include "ProcessProbe.h"
#include <zubdm/zubdm.h>

using ZUB_DEVICE_MEDIATION::CliUserInfo;

namespace {

const int kTableSize = CliUserEntry::MAX_ENTRIES * CliUserEntry::SIZE;

struct Slot {
  int index;
  bool inUse;
  unsigned type;
  int32_t pid;
  std::string pipes;
};

bool pipeThere(const std::string& path) {
  struct stat info = {};
  return lstat(path.c_str(), &info) == 0;
}

Slot readSlot(const CliUserInfo& table, int index) {
  const unsigned char* entry = table.entry(index);
  Slot slot = {index, entry[CliUserEntry::IN_USE_OFFSET] != 0,
               entry[CliUserEntry::USER_TYPE_OFFSET], 0, ""};
  // Integers in the table may sit at any offset: copied, never cast.
  std::memcpy(&slot.pid, entry + CliUserEntry::PID_OFFSET, sizeof slot.pid);
  for (bool write : {true, false}) {
    const std::string path = ZUB_DEVICE_MEDIATION::machineNames().pipe(index, write);
    if (pipeThere(path)) slot.pipes += (slot.pipes.empty() ? "" : " ") + path;
  }
  return slot;
}

const char* processState(int32_t pid) {
  if (pid <= 0) return "-";
  if (processRunning(pid)) return "alive";
  return kill(pid, 0) == 0 || errno == EPERM ? "ended" : "gone";
}

bool empty(const unsigned char* entry) {
  for (int i = 0; i < CliUserEntry::SIZE; ++i) {
    if (entry[i] != 0) return false;
  }
  return true;
}

// Frees this library's entries that no live host holds (the library's
// sweep decides), says what it did with each, and removes the pipe files
// of those it freed when they are this user's pipes.
int freeStaleSlots(CliUserInfo& table, std::FILE* out) {
  std::vector<ZUB_DEVICE_MEDIATION::StaleCliUser> stale;
  const int freed = ZUB_DEVICE_MEDIATION::swmFreeStaleCliUsers(table, stale);
  if (freed < 0) {
    std::fprintf(stderr, "zubdm: %s\n", table.failureCause().c_str());
    return kExitUsage;
  }
  for (const ZUB_DEVICE_MEDIATION::StaleCliUser& slot : stale) {
    if (!slot.freed) {
      std::fprintf(out, "slot %d stays: %s\n", slot.index, slot.why.c_str());
      continue;
    }
    const std::string ended =
        slot.endedCli ? " after ending its CLI (process " + std::to_string(slot.pid) + ")" : "";
    std::fprintf(out, "freed slot %d%s\n", slot.index, ended.c_str());
    for (bool write : {true, false}) {
      // Accepted, and so removed, only when it is a pipe of this user.
      QorFIFO pipe;
      const std::string path = ZUB_DEVICE_MEDIATION::machineNames().pipe(slot.index, write);
      if (pipeThere(path) && pipe.create(path.c_str(), 0660) == 0 && pipe.remove() == 0) {
        std::fprintf(out, "removed %s\n", path.c_str());
      }
    }
  }
  std::fprintf(out, "%d stale slot%s freed\n", freed, freed == 1 ? "" : "s");
  return std::fflush(out) == 0 && !std::ferror(out) ? kExitSuccess : kExitUsage;
}

}  // namespace

int runSlots(bool freeStale, std::FILE* out) {
  const std::string name = ZUB_DEVICE_MEDIATION::machineNames().userTable;
  CliUserInfo table(name.c_str(), kTableSize);
  if (!table.isValidEntry(0)) {
    std::fprintf(stderr, "zubdm: cannot open the CLI user table %s\n", name.c_str());
    return kExitUsage;
  }
  if (freeStale) return freeStaleSlots(table, out);
  std::fprintf(out, "%-4s  %-9s  %-8s  %-7s  %-6s  %s\n", "slot", "type", "process", "state",
               "held", "pipes");
  for (int i = 0; i < CliUserEntry::MAX_ENTRIES; ++i) {
    if (empty(table.entry(i))) continue;
    const Slot slot = readSlot(table, i);
    const std::string type = std::to_string(slot.type) +
                             (slot.type == CliUserEntry::OWN_USER_TYPE ? " (zubdm)" : "");
    std::fprintf(out, "%-4d  %-9s  %-8d  %-7s  %-6s  %s%s\n", slot.index, type.c_str(),
                 slot.pid, processState(slot.pid), table.isSlotHeld(i) ? "yes" : "no",
                 slot.pipes.empty() ? "-" : slot.pipes.c_str(),
                 slot.inUse ? "" : " (not marked in use)");
  }
  return std::fflush(out) == 0 && !std::ferror(out) ? kExitSuccess : kExitUsage;
}
