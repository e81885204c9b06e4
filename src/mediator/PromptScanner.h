#ifndef ZUBDM_MEDIATOR_PROMPTSCANNER_H
#define ZUBDM_MEDIATOR_PROMPTSCANNER_H

#include <cstddef>

#include "mediator/PromptMatcher.h"

namespace zubdm {
namespace internal {

// Finds the prompt that ends a CLI reply in a byte stream that arrives in
// pieces: the first "HVB" and the first "#" after it.
//
// Pure: no I/O, no clock. Not thread-safe.
class PromptScanner {
 public:
  PromptScanner();

  // Starts a new reply.
  void reset();
  // Scans `data[0, length)`; returns the bytes consumed, up to and including
  // the "#" that ends the prompt (matched() is then true), or all of them.
  size_t feed(const char* data, size_t length);
  bool matched() const { return end_.matched(); }
  // Bytes fed since reset() before the prompt's "HVB" (once it was seen).
  size_t promptStart() const { return promptStart_; }

 private:
  PromptMatcher start_;
  PromptMatcher end_;
  size_t fed_;
  size_t promptStart_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_PROMPTSCANNER_H
