#ifndef ZUBDM_FIFO_SIGPIPESHIELD_H
#define ZUBDM_FIFO_SIGPIPESHIELD_H

namespace zubdm {
namespace internal {

// Keeps SIGPIPE away from the host while a pipe is written, so that writing
// to a pipe whose reader has gone fails with EPIPE instead of killing the
// host's process.
//
// Blocks SIGPIPE on the calling thread only; on leaving, consumes a SIGPIPE
// that a noted write raised and restores the thread's mask. A SIGPIPE that
// was pending before is left for the host. The host's signal dispositions
// are never touched.
class SigpipeShield {
 public:
  SigpipeShield();
  ~SigpipeShield();
  SigpipeShield(const SigpipeShield&) = delete;
  SigpipeShield& operator=(const SigpipeShield&) = delete;

  // Called after a shielded write failed with `error` (its errno): EPIPE
  // means that the write raised a SIGPIPE, now pending on this thread.
  void noteWriteFailure(int error);

 private:
  bool wasBlocked_;
  bool wasPending_;
  bool raised_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_FIFO_SIGPIPESHIELD_H
