#include "VisibleText.h"

#include <cstdio>

std::string visibleText(std::string_view bytes, bool keepLines) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (keepLines && (c == '\n' || c == '\t')) {
      out += c;
    } else if (keepLines && c == '\r') {
      continue;
    } else if (c == '\\' && !keepLines) {
      out += "\\\\";
    } else if (c == '\r' || c == '\n' || c == '\t' || c == '\0') {
      out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\0";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}
