#ifndef ZUBDM_MEDIATOR_BYTESOURCE_H
#define ZUBDM_MEDIATOR_BYTESOURCE_H

#include <cstddef>

#include "mediator/Waiter.h"

namespace zubdm {
namespace internal {

// Where a reply reader gets its bytes: the CLI's output pipe, or a script of
// pieces and events in tests and fuzzing.
class ByteSource {
 public:
  enum class Status {
    Data,       // `count` bytes were read
    Empty,      // nothing there now (readNow only)
    Closed,     // end of file, or the CLI has ended
    TimedOut,   // the deadline passed first
    Cancelled,  // the wait was cancelled
    Failed,     // a read or wait failed
  };
  struct Result {
    Status status;
    size_t count;
  };

  // Waits until bytes arrive (at most until `deadline`), then reads at most
  // `capacity` of them into `buffer`.
  virtual Result read(char* buffer, size_t capacity, Deadline deadline) = 0;
  // Reads what is there, without waiting.
  virtual Result readNow(char* buffer, size_t capacity) = 0;

 protected:
  ~ByteSource() = default;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_BYTESOURCE_H
