#ifndef ZUBDM_MEDIATOR_CLICHILD_H
#define ZUBDM_MEDIATOR_CLICHILD_H

#include <signal.h>
#include <sys/types.h>

#include <string>

#include <zubdm/result/FailureKind.h>

namespace zubdm {
namespace internal {

// Owns one spawned CLI child process until it has been ended and reaped.
//
// Where the kernel offers process descriptors the child is held through one,
// so a signal never reaches a recycled process id and the child's exit can be
// waited for with poll(). Only this child is ever reaped (never waitpid(-1)),
// and a host that set SIGCHLD to SIG_IGN is coped with (the kernel reaps).
// Not thread-safe. Destruction ends and reaps a child still held, except in
// a forked copy of the process that adopted it, which only closes its copy
// of the process descriptor: the child stays the adopter's.
class CliChild {
 public:
  CliChild();
  ~CliChild();
  CliChild(const CliChild&) = delete;
  CliChild& operator=(const CliChild&) = delete;

  // Starts `program` (along PATH unless it holds a "/") with the arguments
  // "-n" and `index`, in a process group of its own, with every signal at
  // its default disposition and none blocked; returns its process id, or -1 with errno set (logged, and a
  // failed exec reported on standard error and to syslog as "execvp()
  // failed").
  static pid_t spawn(const std::string& program, int index);

  // Takes ownership of the child `pid` (ending any child held before).
  void adopt(pid_t pid);
  bool held() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Readable once the child has exited; -1 when no descriptor is held.
  int exitFd() const { return pidfd_; }
  // True once the child has exited (it is not reaped by this).
  bool exited() const;

  // Reaps the child if it has ended (never waits), so that a CLI that died
  // is not left a zombie; true once it is reaped. Only this child is
  // reaped, through its process descriptor where there is one.
  bool reapIfExited();
  // The same, giving a child that is ending `graceMs` to finish (its pipes
  // close a moment before it can be reaped).
  bool reapWithin(int graceMs);
  // Gives a child that is ending `graceMs` to finish, reaps it, and puts
  // into `failure` its process id and, once it has ended, its wait status
  // (-1 when a host took it).
  void describeEnd(int graceMs, ZUB_DEVICE_MEDIATION::FailureRecord& failure);

  // Sends SIGTERM, waits up to `graceMs` for the child to end, then sends
  // SIGKILL, and reaps it. Returns 0 once the child is gone (also when it had
  // already ended), or the errno of a SIGTERM that could not be delivered
  // (the child is then still held).
  int terminate(int graceMs);
  // Lets go of the child without signalling or reaping it: a forked copy of
  // the host must leave its parent's CLI alone.
  void abandon();

 private:
  int sendSignal(int signal) const;
  bool waitForExit(int timeoutMs) const;
  void reap();
  // waitid(2) on this child alone, through its process descriptor if held.
  int waitChild(siginfo_t& info, int options) const;
  void release();

  pid_t pid_;
  // The process that adopted the child, the only one that may end it.
  pid_t owner_;
  int pidfd_;
  bool reaped_;
  // The wait status of the reaped child; -1 when unknown.
  int status_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_CLICHILD_H
