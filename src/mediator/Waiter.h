#ifndef ZUBDM_MEDIATOR_WAITER_H
#define ZUBDM_MEDIATOR_WAITER_H

#include <chrono>

#include <zubdm/result/FailureKind.h>

namespace zubdm {
namespace internal {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// The one way a mediator waits for its CLI: poll(2) until a deadline on a
// pipe, on the CLI's exit descriptor and on a wake descriptor that cancel()
// makes readable. Nothing ever spins or sleeps unbounded; a signal that
// interrupts the wait does not end it early nor move its deadline.
//
// Owns the wake descriptor (an eventfd). wait() is used by one thread at a
// time; cancel() may be called from any thread and from signal handlers.
class Waiter {
 public:
  struct Ready {
    bool readable = false;  // the read descriptor is readable (or closed)
    bool writable = false;  // the write descriptor is writable (or broken)
  };

  Waiter();
  ~Waiter();
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  // Ends the wait in progress as Cancelled; when none is in progress, the
  // next wait ends so at once, and the call is then forgotten. Only writes
  // to the wake descriptor, so it is async-signal-safe. Without a wake
  // descriptor (none could be created) it does nothing.
  void cancel() const noexcept;
  // Forgets a cancel that no wait has seen yet.
  void forgetCancel() const { takeWake(); }

  // Waits until `readFd` is readable or `writeFd` writable (-1: not asked;
  // `ready` says which), `exitFd` (-1: none) reports the CLI's exit
  // (CliGone), cancel() is called (Cancelled), or `deadline` passes
  // (TimedOut). Bytes to read win over the exit, so that what the CLI wrote
  // before it ended is read first; a cancel wins over everything.
  ZUB_DEVICE_MEDIATION::FailureRecord wait(int readFd, int writeFd, int exitFd,
                                           Deadline deadline, Ready* ready = nullptr) const;

 private:
  bool takeWake() const;

  int wakeFd_;
};

// A record of `kind`, with the errno `error`.
ZUB_DEVICE_MEDIATION::FailureRecord failureOf(ZUB_DEVICE_MEDIATION::FailureKind kind,
                                              int error = 0);

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_WAITER_H
