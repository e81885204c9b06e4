#include "mediator/CliChild.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <spawn.h>
#include <syslog.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/CliLogHelper.h"

extern char** environ;

namespace zubdm {
namespace internal {

namespace {

const int kDefaultGraceMs = 300;

// What a child whose exec failed would have reported itself.
void reportExecFailure(int error) {
  std::fprintf(stderr, "execvp() failed: %s\n", strerror(error));
  syslog(LOG_ERR, "execvp() failed");
  syslog(LOG_ERR, "%s", strerror(error));
}

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

pid_t CliChild::spawn(const std::string& program, int index) {
  // Everything is prepared before the child exists; posix_spawnp reports a
  // failed exec as its result, so the caller learns it at once.
  std::string name = program;
  char option[] = "-n";
  char digits[16] = {};
  std::snprintf(digits, sizeof digits, "%d", index);
  char* arguments[] = {&name[0], option, digits, nullptr};

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The CLI starts with no blocked signals and default SIGPIPE and SIGTERM
  // handling, whatever the calling thread had.
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  sigaddset(&signals, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int error =
      posix_spawnp(&pid, name.c_str(), nullptr, &attributes, arguments, environ);
  posix_spawnattr_destroy(&attributes);
  if (error == 0) return pid;

  CliLogHelper(3, "ZUBAdaptor", "swmSpawnCli", __LINE__)
      .message("ERROR:CLI Spawn:idx=%d,errno=%d", index, error);
  if (error != EAGAIN && error != ENOMEM) reportExecFailure(error);
  return -1;
}

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

}  // namespace internal
}  // namespace zubdm
