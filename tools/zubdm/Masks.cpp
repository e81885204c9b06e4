#include "Masks.h"

#include <cstdio>

namespace {

const char kMask[] = "****";

// Searches text[from, end) as a whole string of its own (REG_STARTEND, so
// NUL bytes do not end it); offsets come back from the start of `text`.
bool search(const regex_t& pattern, const std::string& text, size_t from, regmatch_t& match) {
  match.rm_so = static_cast<regoff_t>(from);
  match.rm_eo = static_cast<regoff_t>(text.size());
  const int flags = REG_STARTEND | (from > 0 ? REG_NOTBOL : 0);
  return regexec(&pattern, text.c_str(), 1, &match, flags) == 0;
}

}  // namespace

bool Masks::add(const std::string& pattern, std::string& error) {
  auto compiled = std::make_unique<Pattern>();
  // As grep -E reads it: a match never runs past a line end.
  const int status = regcomp(&compiled->compiled, pattern.c_str(), REG_EXTENDED | REG_NEWLINE);
  if (status != 0) {
    char message[256];
    regerror(status, &compiled->compiled, message, sizeof message);
    error = "--mask '" + pattern + "' is not a valid regular expression: " + message;
    return false;
  }
  compiled->ready = true;
  // A pattern that matches the empty text would put "****" between every two
  // bytes.
  regmatch_t match;
  if (search(compiled->compiled, std::string(), 0, match)) {
    error = "--mask '" + pattern + "' matches the empty text";
    return false;
  }
  patterns_.push_back(std::move(compiled));
  return true;
}

void Masks::warn(const std::string& text) const {
  std::fprintf(stderr, "zubdm: %s\n", apply(text).c_str());
}

std::string Masks::apply(const std::string& text) const {
  std::string out = text;
  for (const auto& pattern : patterns_) out = replaceMatches(pattern->compiled, out);
  return out;
}

std::string Masks::replaceMatches(const regex_t& pattern, const std::string& text) {
  std::string out;
  size_t from = 0;
  regmatch_t match;
  while (from < text.size() && search(pattern, text, from, match)) {
    const auto start = static_cast<size_t>(match.rm_so);
    const auto end = static_cast<size_t>(match.rm_eo);
    out.append(text, from, start - from);
    from = end;
    if (end > start) {
      out += kMask;
    } else {
      // An empty match (at a word boundary, say) masks nothing: step on.
      out += text[from++];
    }
  }
  if (from < text.size()) out.append(text, from, std::string::npos);
  return out;
}
