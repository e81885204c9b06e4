#include "SlotsCommand.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "ExitStatus.h"
#include "MachinePaths.h"
#include "ProcessProbe.h"
#include "zubdm.h"

using ZUB_DEVICE_MEDIATION::CliUserInfo;

namespace {

const int kTableSize = CliUserInfo::MAX_ENTRIES * CliUserInfo::ENTRY_SIZE;

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
  Slot slot = {index, entry[CliUserInfo::IN_USE_OFFSET] != 0,
               entry[CliUserInfo::USER_TYPE_OFFSET], 0, ""};
  // Integers in the table may sit at any offset: copied, never cast.
  std::memcpy(&slot.pid, entry + CliUserInfo::PID_OFFSET, sizeof slot.pid);
  for (bool write : {true, false}) {
    const std::string path = machinePaths().pipe(index, write);
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
  for (int i = 0; i < CliUserInfo::ENTRY_SIZE; ++i) {
    if (entry[i] != 0) return false;
  }
  return true;
}

}  // namespace

int runSlots(bool freeStale, std::FILE* out) {
  const std::string& name = machinePaths().userTable;
  CliUserInfo table(name.c_str(), kTableSize);
  if (!table.isValidEntry(0)) {
    std::fprintf(stderr, "zubdm: cannot open the CLI user table %s\n", name.c_str());
    return kExitUsage;
  }
  if (freeStale) {
    // Which entries are stale takes knowing the host that holds each one,
    // which the table alone does not tell.
    std::fprintf(stderr,
                 "zubdm: slots --free-stale needs the library's stale-entry check, which this "
                 "version lacks; nothing was freed\n");
    return kExitUsage;
  }
  std::fprintf(out, "%-4s  %-9s  %-8s  %-7s  %s\n", "slot", "type", "process", "state", "pipes");
  for (int i = 0; i < CliUserInfo::MAX_ENTRIES; ++i) {
    if (empty(table.entry(i))) continue;
    const Slot slot = readSlot(table, i);
    const std::string type = std::to_string(slot.type) +
                             (slot.type == CliUserInfo::OWN_USER_TYPE ? " (zubdm)" : "");
    std::fprintf(out, "%-4d  %-9s  %-8d  %-7s  %s%s\n", slot.index, type.c_str(), slot.pid,
                 processState(slot.pid), slot.pipes.empty() ? "-" : slot.pipes.c_str(),
                 slot.inUse ? "" : " (not marked in use)");
  }
  return std::fflush(out) == 0 && !std::ferror(out) ? kExitSuccess : kExitUsage;
}
