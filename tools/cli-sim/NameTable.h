#ifndef ZUBDM_CLI_SIM_NAMETABLE_H
#define ZUBDM_CLI_SIM_NAMETABLE_H

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

// Looks `name` up in a table of (name, value) pairs: the value of the entry
// with that name, or false (and `value` unchanged) when there is none.
template <typename Value, std::size_t N>
bool valueOfName(const std::string& name,
                 const std::pair<const char*, Value> (&table)[N], Value& value) {
  for (const auto& entry : table) {
    if (name == entry.first) {
      value = entry.second;
      return true;
    }
  }
  return false;
}

#endif  // ZUBDM_CLI_SIM_NAMETABLE_H
