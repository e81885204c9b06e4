#ifndef ZUBDM_TESTS_SUPPORT_TEMPDIR_H
#define ZUBDM_TESTS_SUPPORT_TEMPDIR_H

#include <string>

// A private directory under /tmp with a short name (pipe paths are limited to
// 30 characters), removed with its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

#endif  // ZUBDM_TESTS_SUPPORT_TEMPDIR_H
