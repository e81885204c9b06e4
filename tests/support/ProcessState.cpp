#include "support/ProcessState.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ProcessState {

int openDescriptors() {
  int count = 0;
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return -1;
  while (readdir(directory) != nullptr) ++count;
  closedir(directory);
  return count - 3;  // ".", ".." and the directory's own descriptor
}

bool noChildren() {
  siginfo_t info = {};
  return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 &&
         errno == ECHILD;
}

namespace {

long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  const size_t length = std::strlen(field);
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::atol(line.c_str() + length);
  }
  return -1;
}

}  // namespace

long residentKiB() { return statusKiB("VmRSS:"); }

long peakResidentKiB() { return statusKiB("VmHWM:"); }

bool resetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

int childCount() {
  const pid_t self = getpid();
  int count = 0;
  DIR* directory = opendir("/proc");
  if (directory == nullptr) return -1;
  while (const struct dirent* entry = readdir(directory)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string text;
    std::getline(stat, text);
    // pid (comm) state ppid ...: the command may hold blanks and brackets.
    const size_t end = text.rfind(')');
    if (end == std::string::npos) continue;
    std::istringstream fields(text.substr(end + 1));
    std::string state;
    long parent = 0;
    if (fields >> state >> parent && parent == self) ++count;
  }
  closedir(directory);
  return count;
}

size_t heapInUse() { return mallinfo2().uordblks; }

}  // namespace ProcessState
