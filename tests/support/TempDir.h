#ifndef ZUBDM_TESTS_SUPPORT_TEMPDIR_H
#define ZUBDM_TESTS_SUPPORT_TEMPDIR_H

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

// A private directory under /tmp with a short name (pipe paths are limited to
// 30 characters), removed with its contents when the object goes.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/zdXXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

#endif  // ZUBDM_TESTS_SUPPORT_TEMPDIR_H
