#ifndef ZUBDM_MEDIATOR_WAITER_H
#define ZUBDM_MEDIATOR_WAITER_H

#include <chrono>

namespace zubdm {
namespace internal {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// The one way a mediator waits for its CLI: poll(2) until a deadline on a
// pipe, on the CLI's exit descriptor and on a wake descriptor that cancel()
// makes readable. Nothing ever spins or sleeps unbounded.
//
// Owns the wake descriptor (an eventfd). wait() is used by one thread at a
// time; cancel() may be called from any thread and from signal handlers.
class Waiter {
 public:
  enum class Event { Ready, TimedOut, Cancelled, CliExited, Failed };
  struct Result {
    Event event;
    bool readable;  // Ready: the read descriptor is readable (or closed)
    bool writable;  // Ready: the write descriptor is writable (or broken)
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

  // Waits until `readFd` is readable or `writeFd` writable (-1: not asked),
  // `exitFd` (-1: none) reports the CLI's exit, cancel() is called, or
  // `deadline` passes. Bytes to read win over the exit, so that what the CLI
  // wrote before it ended is read first; a cancel wins over everything.
  Result wait(int readFd, int writeFd, int exitFd, Deadline deadline) const;

 private:
  bool takeWake() const;

  int wakeFd_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_WAITER_H
