#include <zubdm/common/CliDialect.h>

#include <algorithm>

#include <zubdm/common/TextSearch.h>

namespace zubdm {
namespace internal {

namespace dialect {

size_t atLineStart(std::string_view text, std::string_view marker, size_t from) {
  for (size_t at = findText(text, marker, from); at != std::string_view::npos;
       at = findText(text, marker, at + 1)) {
    if (at == 0 || text[at - 1] == '\n') return at;
  }
  return std::string_view::npos;
}

size_t showStart(std::string_view output) { return atLineStart(output, kShowStart); }

Span showDocument(std::string_view output) {
  const size_t begin = showStart(output);
  if (begin == std::string_view::npos) return {begin, begin};
  const size_t close = findText(output, kShowEnd, begin);
  return {begin, close == std::string_view::npos ? output.size() : close + kShowEnd.size()};
}

namespace {

// `line` without its leading command number and blank.
std::string_view withoutNumber(std::string_view line) {
  const size_t number = line.find_first_not_of("0123456789");
  return number > 0 && number != std::string_view::npos && line[number] == ' '
             ? line.substr(number + 1)
             : line;
}

}  // namespace

size_t echoLength(std::string_view reply, std::string_view line) {
  for (const std::string_view echo : {line, withoutNumber(line)}) {
    if (reply.substr(0, echo.size()) != echo) continue;
    const std::string_view rest = reply.substr(echo.size());
    if (rest.substr(0, 2) == "\r\n") return echo.size() + 2;
    if (rest.substr(0, 1) == "\n") return echo.size() + 1;
  }
  return std::string_view::npos;
}

bool echoedInPart(std::string_view reply, std::string_view line) {
  const std::string_view first = reply.substr(0, reply.find_first_of("\r\n"));
  if (first.empty()) return false;
  for (const std::string_view echo : {line, withoutNumber(line)}) {
    if (first.size() < echo.size() && echo.substr(0, first.size()) == first) return true;
  }
  return false;
}

}  // namespace dialect

size_t CliDialect::errorStart(std::string_view output) const {
  // Inside the document the markers are its data: only the text before it
  // and after it is searched, not the document itself.
  const dialect::Span document = dialect::showDocument(output);
  const std::string_view before = output.substr(0, std::min(document.begin, output.size()));
  size_t first = std::string_view::npos;
  const auto consider = [&](std::string_view marker) {
    size_t at = dialect::atLineStart(before, marker);
    if (at == std::string_view::npos && document.begin != std::string_view::npos) {
      at = dialect::atLineStart(output, marker, document.end);
    }
    first = std::min(first, at);
  };
  consider(dialect::kErrorMarker);
  for (const std::string& prefix : errorPrefixes_) consider(prefix);
  return first;
}

bool CliDialect::setErrorPrefixes(const std::vector<std::string>& prefixes) {
  const auto refused = [](const std::string& prefix) {
    return prefix.empty() || std::any_of(prefix.begin(), prefix.end(), [](char c) {
             const auto byte = static_cast<unsigned char>(c);
             return byte < 0x20 || byte == 0x7f;
           });
  };
  if (std::any_of(prefixes.begin(), prefixes.end(), refused)) return false;
  errorPrefixes_ = prefixes;
  return true;
}

}  // namespace internal
}  // namespace zubdm
