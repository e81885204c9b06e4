#include "support/ProcessState.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define ZUBDM_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZUBDM_TEST_ASAN 1
#endif
#endif

namespace ProcessState {

long peakGrowthKiB(const std::function<void()>& step) {
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  step();
  getrusage(RUSAGE_SELF, &after);
#ifdef ZUBDM_TEST_ASAN
  return 0;
#else
  return after.ru_maxrss - before.ru_maxrss;
#endif
}

bool sanitized() {
#ifdef ZUBDM_TEST_ASAN
  return true;
#else
  return false;
#endif
}

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
  return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
}

int childCount() {
  int count = 0;
  DIR* directory = opendir("/proc");
  if (directory == nullptr) return -1;
  while (const struct dirent* entry = readdir(directory)) {
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string text;
    std::getline(stat, text);
    // pid (comm) state ppid ...: the command may hold blanks and brackets.
    const size_t end = text.rfind(')');
    std::istringstream fields(end == std::string::npos ? "" : text.substr(end + 1));
    std::string state;
    long parent = 0;
    count += fields >> state >> parent && parent == getpid();
  }
  closedir(directory);
  return count;
}

size_t heapInUse() { return mallinfo2().uordblks; }

}  // namespace ProcessState
