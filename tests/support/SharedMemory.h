#ifndef ZUBDM_TESTS_SUPPORT_SHAREDMEMORY_H
#define ZUBDM_TESTS_SUPPORT_SHAREDMEMORY_H

#include <string>
#include <vector>

// Whole-object access to a POSIX shared-memory object, for tests of the CLI
// user table.
namespace SharedMemory {

// The object's bytes; empty (and `existed` false) when it does not exist.
std::vector<unsigned char> read(const std::string& name, bool* existed = nullptr);
// Creates the object if needed and replaces its bytes and size; throws
// std::runtime_error when it cannot.
void write(const std::string& name, const std::vector<unsigned char>& bytes);

}  // namespace SharedMemory

#endif  // ZUBDM_TESTS_SUPPORT_SHAREDMEMORY_H
