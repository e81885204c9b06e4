#ifndef ZUBDM_TESTS_SUPPORT_USERTABLEGUARD_H
#define ZUBDM_TESTS_SUPPORT_USERTABLEGUARD_H

#include <string>
#include <vector>

// Saves the machine's CLI user table ("/shmem_cl_users") and restores it, size
// and bytes, when it goes out of scope (removing it if it did not exist).
// While in scope the table holds 1740 zero bytes unless `clear` is false.
//
// Also holds a machine-wide lock while in scope, so that test runs from
// different checkouts never use the table and the /tmp/clPipe* names at once.
class UserTableGuard {
 public:
  static const char* const NAME;
  static const int SIZE = 1740;

  explicit UserTableGuard(bool clear = true);
  ~UserTableGuard();
  UserTableGuard(const UserTableGuard&) = delete;
  UserTableGuard& operator=(const UserTableGuard&) = delete;

  // The current bytes of the table (its whole size).
  std::vector<unsigned char> read() const;
  // Replaces the table's bytes (and size) with `bytes`.
  void write(const std::vector<unsigned char>& bytes) const;
  // Removes the object, so the next opener creates it.
  void remove() const;

 private:
  int lock_;
  bool existed_;
  std::vector<unsigned char> saved_;
};

#endif  // ZUBDM_TESTS_SUPPORT_USERTABLEGUARD_H
