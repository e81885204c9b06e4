#include "mediator/CliChild.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace ZUB_DEVICE_MEDIATION {

namespace {

const int kDefaultGraceMs = 300;

int openProcessFd(pid_t pid) {
#ifdef SYS_pidfd_open
  // Process descriptors are always close-on-exec.
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

}  // namespace

CliChild::CliChild() : pid_(-1), pidfd_(-1) {}

CliChild::~CliChild() {
  if (held()) terminate(kDefaultGraceMs);
  release();
}

void CliChild::adopt(pid_t pid) {
  if (held()) terminate(kDefaultGraceMs);
  release();
  pid_ = pid;
  pidfd_ = openProcessFd(pid);
}

bool CliChild::exited() const {
  if (!held()) return true;
  if (pidfd_ >= 0) {
    struct pollfd entry = {pidfd_, POLLIN, 0};
    return poll(&entry, 1, 0) == 1;
  }
  // Peek without reaping; ECHILD means the kernel already reaped it.
  siginfo_t info = {};
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return errno == ECHILD;
  return info.si_pid == pid_;
}

int CliChild::sendSignal(int signal) const {
#ifdef SYS_pidfd_send_signal
  if (pidfd_ >= 0) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd_, signal, nullptr, 0));
  }
#endif
  return kill(pid_, signal);
}

bool CliChild::waitForExit(int timeoutMs) const {
  if (pidfd_ >= 0) {
    struct pollfd entry = {pidfd_, POLLIN, 0};
    int ready;
    do {
      ready = poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready == 1;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!exited()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int CliChild::terminate(int graceMs) {
  if (!held()) return 0;
  if (sendSignal(SIGTERM) != 0) {
    const int error = errno;
    // ESRCH: the child has already ended; it only needs reaping.
    if (error != ESRCH) return error;
  }
  if (!waitForExit(graceMs)) sendSignal(SIGKILL);
  reap();
  release();
  return 0;
}

void CliChild::reap() {
  int status;
  pid_t result;
  do {
    result = waitpid(pid_, &status, 0);
  } while (result < 0 && errno == EINTR);
  // ECHILD: SIGCHLD is ignored by the host, so the kernel reaped it.
}

void CliChild::release() {
  if (pidfd_ >= 0) close(pidfd_);
  pidfd_ = -1;
  pid_ = -1;
}

}  // namespace ZUB_DEVICE_MEDIATION
