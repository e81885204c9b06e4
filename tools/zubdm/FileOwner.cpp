#include "FileOwner.h"

#include <pwd.h>
#include <sys/stat.h>

#include <cstdio>

namespace {

const char* kindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "FIFO";
  if (S_ISLNK(mode)) return "symbolic link";
  if (S_ISDIR(mode)) return "directory";
  if (S_ISREG(mode)) return "regular file";
  return "special file";
}

}  // namespace

std::string describeFile(const std::string& path) {
  struct stat info = {};
  if (lstat(path.c_str(), &info) != 0) return std::string();
  struct passwd entry = {};
  struct passwd* found = nullptr;
  char buffer[1024];
  getpwuid_r(info.st_uid, &entry, buffer, sizeof buffer, &found);
  char text[256];
  std::snprintf(text, sizeof text, "a %s owned by %s (uid %u), mode %04o", kindOf(info.st_mode),
                found ? found->pw_name : "?", static_cast<unsigned>(info.st_uid),
                static_cast<unsigned>(info.st_mode & 07777));
  return text;
}
