#ifndef ZUBDM_MEDIATOR_PIPESOURCE_H
#define ZUBDM_MEDIATOR_PIPESOURCE_H

#include <functional>
#include <string_view>
#include <utility>

#include <zubdm/mediator/ByteSource.h>
#include <zubdm/mediator/CliChild.h>
#include <zubdm/mediator/Waiter.h>

namespace zubdm {
namespace internal {

// The CLI's output pipe as a byte source: each wait is the waiter's poll on
// the pipe, the CLI's exit and the wake descriptor, then one read(2) on the
// pipe's non-blocking descriptor. A CLI found to have ended is reaped at once
// and its exit status goes into the failure.
//
// Borrows the waiter and the child; the descriptor is set per connection.
// Not thread-safe.
class PipeSource final : public ByteSource {
 public:
  PipeSource(const Waiter& waiter, CliChild& child)
      : waiter_(waiter), child_(child), fd_(-1) {}

  // The non-blocking descriptor to read; -1 for none.
  void setDescriptor(int fd) { fd_ = fd; }
  int descriptor() const { return fd_; }
  // Told every byte read, in order (empty: nobody).
  void setObserver(std::function<void(std::string_view)> observer) {
    observer_ = std::move(observer);
  }

  Result read(char* buffer, size_t capacity, Deadline deadline) override;
  Result readNow(char* buffer, size_t capacity) override;

 private:
  // CliGone, with how the CLI ended once it has (within `graceMs`).
  Result gone(int graceMs, int error = 0);

  const Waiter& waiter_;
  CliChild& child_;
  int fd_;
  std::function<void(std::string_view)> observer_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_PIPESOURCE_H
