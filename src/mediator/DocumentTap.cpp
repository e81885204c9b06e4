#include <zubdm/mediator/DocumentTap.h>

#include <cstring>

#include <zubdm/common/CliDialect.h>

namespace zubdm {
namespace internal {

using dialect::kShowStart;

void DocumentTap::start(bool echo) {
  parser_.abandon();
  // The reply is kept as the result's output, from the document on: the
  // document reads its values there rather than holding copies.
  parser_.borrowValues(true);
  inEcho_ = echo;
  feeding_ = false;
  taken_ = 0;
  begin_ = 0;
  matched_ = 0;
  lineStart_ = true;
}

void DocumentTap::take(std::string_view bytes) {
  size_t at = 0;
  while (!feeding_ && at < bytes.size()) {
    if (inEcho_) {
      const size_t end = bytes.find('\n', at);
      at = end == std::string_view::npos ? bytes.size() : end + 1;
      inEcho_ = end == std::string_view::npos;
      lineStart_ = true;
      continue;
    }
    if (matched_ == 0) {
      // The next "<" at a line start; memchr, for output of many MiB.
      const void* found = std::memchr(bytes.data() + at, '<', bytes.size() - at);
      const size_t next = found ? static_cast<const char*>(found) - bytes.data() : bytes.size();
      if (next > at) lineStart_ = bytes[next - 1] == '\n';
      at = next;
      if (at == bytes.size()) break;
      if (!lineStart_) {
        ++at;
        continue;
      }
    }
    // The candidate goes on while its bytes are those of "<SHOW".
    if (bytes[at] != kShowStart[matched_]) {
      matched_ = 0;
      lineStart_ = false;
      continue;
    }
    ++at;
    if (++matched_ < kShowStart.size()) continue;
    feeding_ = true;
    begin_ = taken_ + at - kShowStart.size();
    parser_.feed(kShowStart.data(), kShowStart.size());
  }
  if (feeding_ && at < bytes.size()) parser_.feed(bytes.data() + at, bytes.size() - at);
  taken_ += bytes.size();
}

ShowParser* DocumentTap::documentAt(size_t at) {
  if (feeding_ && parser_.ended() && begin_ == at) return &parser_;
  parser_.abandon();
  return nullptr;
}

}  // namespace internal
}  // namespace zubdm
