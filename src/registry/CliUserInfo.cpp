#include <zubdm/registry/CliUserInfo.h>

#include <zubdm/registry/UserTable.h>

namespace ZUB_DEVICE_MEDIATION {

CliUserInfo::CliUserInfo() = default;

CliUserInfo::CliUserInfo(char const* name, int size) : users_(name, size) {}

CliUserInfo::~CliUserInfo() = default;

bool CliUserInfo::isValidEntry(int index) const { return table() && table()->covers(index); }

void CliUserInfo::initEntry(int index) {
  if (table()) table()->release(index);
}

int CliUserInfo::setPid(int index, int pid) {
  return table() && table()->setPid(index, pid) ? pid : -1;
}

void CliUserInfo::dump(int /*index*/) {}

std::optional<CliUserInfo::Entry> CliUserInfo::readEntry(int index) const {
  if (!table()) return std::nullopt;
  return table()->read(index);
}

bool CliUserInfo::isSlotHeld(int index) const { return table() && table()->held(index); }

std::string CliUserInfo::failureCause() const {
  if (!table() || (table()->address() == nullptr && !table()->failure())) {
    return "no CLI user table is mapped";
  }
  return describeFailure(table()->failure());
}

int swmGetFreeCliUserIndex(CliUserInfo& info) {
  if (!info.table()) return -1;
  // The entry stays reserved, its lock with the table, until initEntry().
  return info.table()->reserve().release();
}

int swmUpdateCliUserEntry(int index, CliUserInfo& info) {
  return info.table() && info.table()->take(index) ? 0 : -1;
}

int swmFreeStaleCliUsers(CliUserInfo& info) {
  return info.table() ? info.table()->freeStale() : -1;
}

int swmFreeStaleCliUsers(CliUserInfo& info, std::vector<StaleCliUser>& report) {
  return info.table() ? info.table()->freeStale(&report) : -1;
}

}  // namespace ZUB_DEVICE_MEDIATION
