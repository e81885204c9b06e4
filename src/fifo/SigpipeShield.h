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
  // Which writes the shield has to expect.
  enum Writes {
    // Any code may write in scope: a SIGPIPE is looked for on leaving.
    ANY_WRITES,
    // Only writes that report their failures through noteWriteFailure(),
    // and the host's log sink, run in scope: a SIGPIPE is looked for only
    // when one of them failed with EPIPE or the log sink ran, which spares
    // a system call per shield on the usual path.
    NOTED_WRITES,
  };

  explicit SigpipeShield(Writes writes = ANY_WRITES);
  ~SigpipeShield();
  SigpipeShield(const SigpipeShield&) = delete;
  SigpipeShield& operator=(const SigpipeShield&) = delete;

  // Called after a shielded write failed with `error` (its errno): EPIPE
  // means that a SIGPIPE is now pending for the outermost shield to consume.
  static void noteWriteFailure(int error);

 private:
  bool outermost_;
  bool anyWrites_;
  // SIGPIPE was blocked on this thread before (so the mask stays) ...
  bool wasBlocked_;
  // ... and already pending (so it is not ours to consume).
  bool wasPending_;
  // Log messages delivered on this thread when the shield was raised.
  unsigned long messagesBefore_;
};

#endif  // ZUBDM_FIFO_SIGPIPESHIELD_H
