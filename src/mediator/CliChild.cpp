#include <zubdm/mediator/CliChild.h>

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

#include <zubdm/common/CliLogHelper.h>

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
  // The CLI starts clean: no blocked signal and every signal at its default
  // disposition, whatever the host ignored or blocked (an ignored SIGHUP or
  // SIGCHLD would otherwise be inherited across exec).
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigfillset(&signals);
  sigdelset(&signals, SIGKILL);
  sigdelset(&signals, SIGSTOP);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  // In a process group of its own, signals meant for the host's group (a
  // Ctrl-C at the host's terminal) do not end the CLI behind the host's
  // back; the host ends it.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  const int error =
      posix_spawnp(&pid, name.c_str(), nullptr, &attributes, arguments, environ);
  posix_spawnattr_destroy(&attributes);
  if (error == 0) return pid;

  CliLogHelper(3, "ZUBAdaptor", "swmSpawnCli", __LINE__)
      .message("ERROR:CLI Spawn:idx=%d,errno=%d", index, error);
  if (error != EAGAIN && error != ENOMEM) reportExecFailure(error);
  errno = error;
  return -1;
}

CliChild::CliChild() : pid_(-1), owner_(-1), pidfd_(-1), reaped_(false), status_(-1) {}

CliChild::~CliChild() {
  if (held() && owner_ == getpid()) terminate(kDefaultGraceMs);
  release();
}

void CliChild::adopt(pid_t pid) {
  if (held()) terminate(kDefaultGraceMs);
  release();
  pid_ = pid;
  owner_ = getpid();
  pidfd_ = openProcessFd(pid);
  reaped_ = false;
  status_ = -1;
}

bool CliChild::reapIfExited() {
  if (!held() || reaped_) return reaped_;
  siginfo_t info = {};
  const int result = waitChild(info, WEXITED | WNOHANG);
  if (result != 0) {
    // ECHILD: the host reaped it, or ignores SIGCHLD and the kernel did.
    reaped_ = errno == ECHILD;
    return reaped_;
  }
  if (info.si_pid == 0) return false;  // still running
  reaped_ = true;
  // As waitpid would have put it.
  status_ = info.si_code == CLD_EXITED ? (info.si_status & 0xff) << 8
                                       : info.si_status & 0x7f;
  return true;
}

bool CliChild::reapWithin(int graceMs) {
  if (reapIfExited() || !held()) return reaped_;
  waitForExit(graceMs);
  return reapIfExited();
}

void CliChild::describeEnd(int graceMs, ZUB_DEVICE_MEDIATION::FailureRecord& failure) {
  failure.pid = pid_;
  failure.ended = graceMs > 0 ? reapWithin(graceMs) : reapIfExited();
  // A host that reaps every child (waitpid(-1) on SIGCHLD) took the status.
  failure.exitStatus = failure.ended ? status_ : -1;
}

void CliChild::abandon() {
  if (pidfd_ >= 0) close(pidfd_);
  pidfd_ = -1;
  pid_ = -1;
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
  // A reaped child's id may already belong to another process.
  if (reaped_) {
    release();
    return 0;
  }
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
  siginfo_t info;
  while (waitChild(info, WEXITED) != 0 && errno == EINTR) {
  }
  // ECHILD: the host reaped it, or ignores SIGCHLD and the kernel did.
}

int CliChild::waitChild(siginfo_t& info, int options) const {
#ifdef SYS_pidfd_open
  if (pidfd_ >= 0) {
    // P_PIDFD: exactly the process the descriptor holds. Should the host
    // have reaped it, its id may already be one of the host's own children.
    const int result =
        waitid(static_cast<idtype_t>(3), static_cast<id_t>(pidfd_), &info, options);
    if (result == 0 || errno != EINVAL) return result;  // EINVAL: kernel before 5.4
  }
#endif
  return waitid(P_PID, static_cast<id_t>(pid_), &info, options);
}

void CliChild::release() {
  abandon();
  reaped_ = false;
}

}  // namespace internal
}  // namespace zubdm
