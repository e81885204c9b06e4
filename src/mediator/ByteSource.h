#ifndef ZUBDM_MEDIATOR_BYTESOURCE_H
#define ZUBDM_MEDIATOR_BYTESOURCE_H

#include <cstddef>

#include <zubdm/mediator/Waiter.h>

namespace zubdm {
namespace internal {

// Where a reply reader gets its bytes: the CLI's output pipe, or a script of
// pieces and events in tests and fuzzing.
class ByteSource {
 public:
  // `count` bytes were read, or, when `failure` is set, none: CliGone at end
  // of file or once the CLI has ended, TimedOut, Cancelled. Neither: nothing
  // there now (readNow only).
  struct Result {
    size_t count;
    ZUB_DEVICE_MEDIATION::FailureRecord failure;
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
