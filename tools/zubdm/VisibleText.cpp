#include "VisibleText.h"

#include <cstdio>

namespace {

// The length of the UTF-8 sequence that `bytes` start with, and its code
// point in `point`; 0 when they start with no such sequence (overlong forms
// and surrogates are none).
size_t utf8Length(std::string_view bytes, unsigned& point) {
  static const unsigned kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  const unsigned char lead = static_cast<unsigned char>(bytes[0]);
  const size_t length = lead < 0x80 ? 1 : lead < 0xc2 ? 0 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3
                        : lead < 0xf5 ? 4 : 0;
  if (length == 0 || length > bytes.size()) return 0;
  point = length == 1 ? lead : lead & (0x7fu >> length);
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(bytes[i]);
    if ((next & 0xc0) != 0x80) return 0;
    point = point << 6 | (next & 0x3f);
  }
  const bool valid = point >= kSmallest[length] && (point < 0xd800 || point > 0xdfff) &&
                     point <= 0x10ffff;
  return valid ? length : 0;
}

// The escape of a C0 control byte or DEL outside JSON.
const char* byteEscape(unsigned byte) {
  switch (byte) {
    case 0:
      return "\\0";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return "\\x%02x";
  }
}

}  // namespace

void appendEscaped(std::string& out, std::string_view bytes, Escape style) {
  const bool json = style == Escape::kJson || style == Escape::kJsonLatin1;
  size_t length = 1;
  for (size_t i = 0; i < bytes.size(); i += length) {
    unsigned point = static_cast<unsigned char>(bytes[i]);
    length = style == Escape::kJsonLatin1 ? 1 : utf8Length(bytes.substr(i), point);
    const bool control = point < 0x20 || point == 0x7f || (point >= 0x80 && point < 0xa0);
    const char* format = nullptr;  // none: the bytes as they are
    if (length == 0) {             // a byte that is not part of UTF-8
      length = 1;
      format = json ? "\\ufffd" : "\\x%02x";
    } else if (point == '\\' || (point == '"' && json)) {
      format = point == '"' ? "\\\"" : "\\\\";
    } else if (point == '\r' && style != Escape::kLine) {
      format = "";
    } else if ((point == '\n' || point == '\t') && style == Escape::kText) {
      // kept as they are
    } else if (control || (json && length == 1 && point > 0x7f)) {
      format = json || length > 1 ? "\\u%04x" : byteEscape(point);
    }
    if (format == nullptr) {
      out.append(bytes.substr(i, length));
      continue;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, format, point);
    out += escape;
  }
}

std::string visibleText(std::string_view bytes, Escape style) {
  std::string out;
  appendEscaped(out, bytes, style);
  return out;
}

bool isUtf8(std::string_view bytes) {
  unsigned point = 0;
  for (size_t i = 0, length = 1; i < bytes.size(); i += length) {
    if ((length = utf8Length(bytes.substr(i), point)) == 0) return false;
  }
  return true;
}
