#include "mediator/ExchangeRing.h"

#include <liburing.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ZUB_DEVICE_MEDIATION {

namespace {

// What each completion belongs to.
enum Tag : __u64 { kLine = 1, kLineEnd, kRead, kTimeout, kExit, kCancel };

// Room for one exchange (four entries), the exit watch and a cancellation.
constexpr unsigned kEntries = 8;
constexpr unsigned kEntriesPerExchange = 6;

bool disabledByEnvironment() {
  const char* value = std::getenv("ZUBDM_IO_URING");
  return value != nullptr && std::strcmp(value, "0") == 0;
}

bool supportsEverythingUsed(io_uring& ring) {
  io_uring_probe* probe = io_uring_get_probe_ring(&ring);
  if (probe == nullptr) return false;
  bool supported = true;
  for (const int op : {IORING_OP_WRITE, IORING_OP_READ, IORING_OP_LINK_TIMEOUT,
                       IORING_OP_POLL_ADD, IORING_OP_ASYNC_CANCEL}) {
    supported = supported && io_uring_opcode_supported(probe, op) != 0;
  }
  io_uring_free_probe(probe);
  return supported;
}

__kernel_timespec timeUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
      deadline - std::chrono::steady_clock::now());
  const long long ns = left.count() > 0 ? left.count() : 0;
  __kernel_timespec span{};
  span.tv_sec = ns / 1000000000;
  span.tv_nsec = ns % 1000000000;
  return span;
}

void prepare(io_uring_sqe* entry, Tag tag, bool linked) {
  io_uring_sqe_set_data64(entry, tag);
  if (linked) entry->flags |= IOSQE_IO_LINK;
}

}  // namespace

struct ExchangeRing::Progress {
  Outcome outcome{-ECANCELED, -ECANCELED, -ECANCELED};
  bool readDone = false;
  bool timedOut = false;
};

ExchangeRing::ExchangeRing() : exitFd_(-1), exitWatched_(false), exited_(false) {}

ExchangeRing::~ExchangeRing() { close(); }

bool ExchangeRing::open(int exitFd) {
  close();
  if (disabledByEnvironment()) return false;
  std::unique_ptr<io_uring> ring(new io_uring());
  if (io_uring_queue_init(kEntries, ring.get(), 0) != 0) return false;
  if (!supportsEverythingUsed(*ring)) {
    io_uring_queue_exit(ring.get());
    return false;
  }
  ring_ = std::move(ring);
  exitFd_ = exitFd;
  exitWatched_ = false;
  exited_ = false;
  return true;
}

void ExchangeRing::close() {
  if (!ring_) return;
  // No read is in flight between exchanges; the exit watch goes with it.
  io_uring_queue_exit(ring_.get());
  ring_.reset();
}

ExchangeRing::Outcome ExchangeRing::exchange(
    int writeFd, std::string_view line, std::string_view lineEnd, int readFd,
    char* buffer, unsigned capacity,
    std::chrono::steady_clock::time_point deadline) {
  // Completions an earlier exchange left behind (its cancelled time-out);
  // only an exit of the CLI among them still counts.
  Progress stale;
  collect(stale);
  Progress progress;
  // Once the CLI has exited, nothing is submitted: the caller's own reads
  // notice the exit at once.
  if (exited_ || io_uring_sq_space_left(ring_.get()) < kEntriesPerExchange) {
    return progress.outcome;
  }
  if (!exitWatched_ && exitFd_ >= 0) submitExitWatch();

  io_uring* ring = ring_.get();
  io_uring_sqe* entry = io_uring_get_sqe(ring);
  io_uring_prep_write(entry, writeFd, line.data(), static_cast<unsigned>(line.size()), 0);
  prepare(entry, kLine, true);
  entry = io_uring_get_sqe(ring);
  io_uring_prep_write(entry, writeFd, lineEnd.data(), static_cast<unsigned>(lineEnd.size()), 0);
  prepare(entry, kLineEnd, true);
  entry = io_uring_get_sqe(ring);
  io_uring_prep_read(entry, readFd, buffer, capacity, 0);
  prepare(entry, kRead, true);
  // Bounds the read (not the writes, which block as plain writes would).
  __kernel_timespec span = timeUntil(deadline);
  entry = io_uring_get_sqe(ring);
  io_uring_prep_link_timeout(entry, &span, 0);
  prepare(entry, kTimeout, false);

  // The two writes and the read each complete once.
  int waitFor = 3;
  bool cancelled = false;
  for (;;) {
    const int result = io_uring_submit_and_wait(ring, static_cast<unsigned>(waitFor));
    collect(progress);
    if (progress.readDone) break;
    if (result < 0 && result != -EINTR && result != -EAGAIN && result != -EBUSY) {
      // The ring itself failed; closing it cancels what is still in flight.
      // Writes of unknown fate count as failed, so that none is repeated.
      for (int* step : {&progress.outcome.line, &progress.outcome.lineEnd,
                        &progress.outcome.read}) {
        if (*step == -ECANCELED) *step = result;
      }
      close();
      return progress.outcome;
    }
    // A CLI that exited may have left its pipe open in another process.
    if (exited_ && !cancelled) {
      cancelRead();
      cancelled = true;
    }
    waitFor = 1;
  }
  if (progress.outcome.read == -ECANCELED) {
    if (progress.timedOut) progress.outcome.read = -ETIME;
    else if (exited_) progress.outcome.read = -ECHILD;
  }
  return progress.outcome;
}

void ExchangeRing::submitExitWatch() {
  io_uring_sqe* entry = io_uring_get_sqe(ring_.get());
  io_uring_prep_poll_add(entry, exitFd_, POLLIN);
  prepare(entry, kExit, false);
  exitWatched_ = true;
}

void ExchangeRing::cancelRead() {
  io_uring_sqe* entry = io_uring_get_sqe(ring_.get());
  io_uring_prep_cancel64(entry, kRead, 0);
  prepare(entry, kCancel, false);
}

void ExchangeRing::collect(Progress& progress) {
  io_uring* ring = ring_.get();
  io_uring_cqe* completion = nullptr;
  while (io_uring_peek_cqe(ring, &completion) == 0) {
    const int result = completion->res;
    switch (io_uring_cqe_get_data64(completion)) {
      case kLine:
        progress.outcome.line = result;
        break;
      case kLineEnd:
        progress.outcome.lineEnd = result;
        break;
      case kRead:
        progress.outcome.read = result;
        progress.readDone = true;
        break;
      case kTimeout:
        progress.timedOut = progress.timedOut || result == -ETIME;
        break;
      case kExit:
        exited_ = true;
        break;
      default:
        break;
    }
    io_uring_cqe_seen(ring, completion);
  }
}

}  // namespace ZUB_DEVICE_MEDIATION
