#ifndef ZUBDM_MEDIATOR_EXCHANGERING_H
#define ZUBDM_MEDIATOR_EXCHANGERING_H

#include <chrono>
#include <memory>
#include <string_view>

struct io_uring;

namespace ZUB_DEVICE_MEDIATION {

// Puts the system calls of one exchange with the CLI into a single
// submission to an io_uring: the two writes of a command line, then the
// first read of the reply, bounded by a deadline and ended early when the
// CLI exits. One system call where writing and waiting take three or four,
// and the thread sleeps once per exchange.
//
// Where the kernel has no io_uring (or forbids it, or ZUBDM_IO_URING=0 is
// set), open() fails and the caller does its own writes and reads.
// Every read submitted is completed or cancelled before exchange() returns,
// so the kernel never writes into the caller's buffer afterwards.
//
// Not thread-safe: one exchange at a time. Owns the ring and its descriptor.
class ExchangeRing {
 public:
  // What became of each step; steps not attempted hold -ECANCELED.
  struct Outcome {
    // Bytes written, or -errno.
    int line;
    int lineEnd;
    // Bytes read, 0 at end of file, or -errno: -ETIME when the deadline
    // passed first, -ECHILD when the CLI had exited and nothing came.
    int read;
  };

  ExchangeRing();
  ~ExchangeRing();
  ExchangeRing(const ExchangeRing&) = delete;
  ExchangeRing& operator=(const ExchangeRing&) = delete;

  // Sets up a ring for one CLI; `exitFd` (its pidfd, or -1) becomes
  // readable when it exits. Closes an earlier ring. False when no ring can
  // be used; the exchange is then the caller's.
  bool open(int exitFd);
  void close();
  bool usable() const { return ring_ != nullptr; }

  // Writes `line` and then `lineEnd` to `writeFd` and reads at most
  // `capacity` bytes from `readFd` into `buffer`, in this order; a failed or
  // short write cancels what follows it.
  Outcome exchange(int writeFd, std::string_view line, std::string_view lineEnd,
                   int readFd, char* buffer, unsigned capacity,
                   std::chrono::steady_clock::time_point deadline);

 private:
  struct Progress;
  void submitExitWatch();
  void collect(Progress& progress);
  void cancelRead();

  std::unique_ptr<io_uring> ring_;
  int exitFd_;
  bool exitWatched_;
  bool exited_;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_MEDIATOR_EXCHANGERING_H
