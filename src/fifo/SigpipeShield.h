#ifndef ZUBDM_FIFO_SIGPIPESHIELD_H
#define ZUBDM_FIFO_SIGPIPESHIELD_H

#include <signal.h>

// Keeps SIGPIPE away from the process while in scope, so that writing to a
// pipe whose reader has gone fails with EPIPE instead of killing the host.
//
// Blocks SIGPIPE on the calling thread only; on leaving, consumes a SIGPIPE
// that a write raised meanwhile and restores the thread's mask. The host's
// signal dispositions are never touched. Nested shields on one thread cost
// nothing: only the outermost one acts, so a caller can shield a whole
// exchange once instead of every write.
class SigpipeShield {
 public:
  SigpipeShield();
  ~SigpipeShield();
  SigpipeShield(const SigpipeShield&) = delete;
  SigpipeShield& operator=(const SigpipeShield&) = delete;

 private:
  bool outermost_;
  // SIGPIPE was blocked on this thread before (so the mask stays) ...
  bool wasBlocked_;
  // ... and already pending (so it is not ours to consume).
  bool wasPending_;
};

#endif  // ZUBDM_FIFO_SIGPIPESHIELD_H
