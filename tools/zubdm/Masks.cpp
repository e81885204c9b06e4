#include "Masks.h"

bool Masks::add(const std::string& pattern, std::string& error) {
  try {
    std::regex compiled(pattern, std::regex::extended);
    // A pattern that matches nothing at all would put "****" between every
    // two bytes.
    if (std::regex_match(std::string(), compiled)) {
      error = "--mask '" + pattern + "' matches the empty text";
      return false;
    }
    patterns_.push_back(std::move(compiled));
    return true;
  } catch (const std::regex_error& e) {
    error = "--mask '" + pattern + "' is not a valid regular expression: " + e.what();
    return false;
  }
}

std::string Masks::apply(const std::string& text) const {
  std::string out = text;
  for (const std::regex& pattern : patterns_) out = std::regex_replace(out, pattern, "****");
  return out;
}
