#include "ShowDocument.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const char kHeader[] = "<SHOW>\r\n";
const char kFooter[] = "</SHOW>\r\n";
const std::size_t kPieceBytes = 1 << 20;
const std::size_t kBulkObjectBytes = 256;
const int kBulkIdDigits = 10;
const char kElementLetters[] = "abcdefghijklmnopqrstuvwxyzabcdefghijklmn";

// Length of a well-formed UTF-8 sequence starting at `p` (at most `left`
// bytes available), or 0 when the bytes there are not one.
std::size_t utf8Length(const unsigned char* p, std::size_t left) {
  std::size_t length = 0;
  unsigned min = 0;
  unsigned code = 0;
  if (p[0] >= 0xc2 && p[0] <= 0xdf) {
    length = 2, min = 0x80, code = p[0] & 0x1fu;
  } else if (p[0] >= 0xe0 && p[0] <= 0xef) {
    length = 3, min = 0x800, code = p[0] & 0x0fu;
  } else if (p[0] >= 0xf0 && p[0] <= 0xf4) {
    length = 4, min = 0x10000, code = p[0] & 0x07u;
  } else {
    return 0;
  }
  if (length > left) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xc0) != 0x80) return 0;
    code = (code << 6) | (p[i] & 0x3fu);
  }
  if (code < min || code > 0x10ffff) return 0;
  if (code >= 0xd800 && code <= 0xdfff) return 0;
  if (code == 0xfffe || code == 0xffff) return 0;
  return length;
}

// The fixed-size bulk object; its two id fields are filled in per object.
struct BulkTemplate {
  std::string text;
  std::size_t idAt = 0;
  std::size_t indexAt = 0;

  BulkTemplate() {
    const std::string digits(kBulkIdDigits, '0');
    const std::string head = "  <OBJ id=\"bulk";
    const std::string mid = "\">\r\n    <data index=\"";
    const std::string fillOpen = "\" fill=\"";
    const std::string tail = "\"/>\r\n  </OBJ>\r\n";
    const std::size_t fixed = head.size() + mid.size() + fillOpen.size() +
                              tail.size() + 2 * digits.size();
    idAt = head.size();
    indexAt = idAt + digits.size() + mid.size();
    text = head + digits + mid + digits + fillOpen +
           std::string(kBulkObjectBytes - fixed, 'x') + tail;
  }

  void stamp(char* object, std::uint64_t number) const {
    char id[32];
    std::snprintf(id, sizeof id, "%0*llu", kBulkIdDigits,
                  static_cast<unsigned long long>(number));
    std::memcpy(object + idAt, id, kBulkIdDigits);
    std::memcpy(object + indexAt, id, kBulkIdDigits);
  }
};

}  // namespace

std::string ShowDocument::escapeAttribute(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = bytes[i];
    if (text.compare(i, 3, "HVB") == 0) {
      out += "HV&#66;";
      i += 3;
      continue;
    }
    if (c >= 0x80) {
      const std::size_t length = utf8Length(bytes + i, text.size() - i);
      if (length == 0) {
        out += '?';
        ++i;
      } else {
        out.append(text, i, length);
        i += length;
      }
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

std::string ShowDocument::interfaces(
    const std::map<std::string, InterfaceState>& table) {
  std::string out = "Interface table\r\n";
  out += kHeader;
  for (const auto& entry : table) {
    const char* state = entry.second.adminUp ? "up" : "down";
    out += "  <OBJ id=\"" + escapeAttribute(entry.first) + "\">\r\n";
    out += std::string("    <port admin=\"") + state + "\" oper=\"" + state +
           "\" speed=\"1000\"/>\r\n";
    out += "    <info description=\"" +
           escapeAttribute(entry.second.description) + "\"/>\r\n";
    out += "  </OBJ>\r\n";
  }
  out += kFooter;
  return out;
}

bool ShowDocument::objects(std::uint64_t count, const Sink& sink) {
  std::string piece = kHeader;
  for (std::uint64_t k = 1; k <= count; ++k) {
    const std::string n = std::to_string(k);
    piece += "  <OBJ id=\"obj";
    piece += n;
    piece += "\">\r\n    <port state=\"up\" index=\"";
    piece += n;
    piece += "\"/>\r\n    <counters rx=\"";
    piece += std::to_string(1000 + k);
    piece += "\" tx=\"";
    piece += std::to_string(2000 + k);
    piece += "\"/>\r\n  </OBJ>\r\n";
    if (piece.size() >= kPieceBytes) {
      if (!sink(piece.data(), piece.size())) return false;
      piece.clear();
    }
  }
  piece += kFooter;
  return sink(piece.data(), piece.size());
}

bool ShowDocument::bulk(std::uint64_t bytes, const Sink& sink) {
  const std::uint64_t frame = std::strlen(kHeader) + std::strlen(kFooter);
  const std::uint64_t body = bytes > frame ? bytes - frame : 0;
  const std::uint64_t count = body / kBulkObjectBytes;
  const std::uint64_t padding = body % kBulkObjectBytes;

  if (!sink(kHeader, std::strlen(kHeader))) return false;
  // One buffer of whole objects is reused: only the ids change.
  static const BulkTemplate object;
  // No larger than the reply needs: a small reply costs no 1 MiB buffer.
  const std::size_t perPiece = static_cast<std::size_t>(
      std::min<std::uint64_t>(kPieceBytes / kBulkObjectBytes, count));
  std::string piece;
  piece.reserve(perPiece * kBulkObjectBytes);
  for (std::size_t i = 0; i < perPiece; ++i) piece += object.text;
  std::uint64_t next = 1;
  while (next <= count) {
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>(perPiece, count - next + 1));
    for (std::size_t i = 0; i < n; ++i) {
      object.stamp(&piece[i * kBulkObjectBytes], next + i);
    }
    if (!sink(piece.data(), n * kBulkObjectBytes)) return false;
    next += n;
  }
  const std::string tail =
      std::string(static_cast<std::size_t>(padding), ' ') + kFooter;
  return sink(tail.data(), tail.size());
}

bool ShowDocument::elements(std::uint64_t bytes, const Sink& sink) {
  const std::uint64_t frame = std::strlen(kHeader) + std::strlen(kFooter);
  std::uint64_t left = bytes > frame ? bytes - frame : 0;
  const std::string head = "<OBJ id=\"";
  const std::string mid = "\"><ITEM a=\"v";
  const std::string tail =
      std::string("\" b=\"") + kElementLetters + "\"/></OBJ>";
  const std::size_t fixed = head.size() + mid.size() + tail.size();
  std::string piece = kHeader;
  for (std::uint64_t k = 1;; ++k) {
    const std::string n = std::to_string(k);
    const std::size_t length = fixed + 2 * n.size();
    if (length > left) break;
    piece += head;
    piece += n;
    piece += mid;
    piece += n;
    piece += tail;
    left -= length;
    if (piece.size() >= kPieceBytes) {
      if (!sink(piece.data(), piece.size())) return false;
      piece.clear();
    }
  }
  // Less than one object's worth of padding is left.
  piece.append(static_cast<std::size_t>(left), ' ');
  piece += kFooter;
  return sink(piece.data(), piece.size());
}
