#include <zubdm/registry/CliUsers_ptr.h>

#include <new>
#include <utility>

#include <zubdm/registry/UserTable.h>

namespace ZUB_DEVICE_MEDIATION {

CliUsers_ptr::CliUsers_ptr() = default;

CliUsers_ptr::CliUsers_ptr(char const* name, int size)
    : table_(new (std::nothrow) zubdm::internal::UserTable(name ? name : "", name ? size : 0)) {}

CliUsers_ptr::CliUsers_ptr(CliUsers_ptr& other) : table_(std::move(other.table_)) {}

CliUsers_ptr& CliUsers_ptr::operator=(CliUsers_ptr& other) {
  if (this != &other) table_ = std::move(other.table_);
  return *this;
}

CliUsers_ptr::~CliUsers_ptr() = default;

unsigned char* CliUsers_ptr::get() const { return table_ ? table_->address() : nullptr; }

int CliUsers_ptr::length() const { return table_ ? table_->length() : 0; }

}  // namespace ZUB_DEVICE_MEDIATION
