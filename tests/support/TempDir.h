#ifndef ZUBDM_TESTS_SUPPORT_TEMPDIR_H
#define ZUBDM_TESTS_SUPPORT_TEMPDIR_H

#include <string>

// A new private directory under $TMPDIR (or /tmp), removed together with
// everything in it when the object goes. path() is empty if it could not
// be created (a test failure is recorded).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

#endif  // ZUBDM_TESTS_SUPPORT_TEMPDIR_H
