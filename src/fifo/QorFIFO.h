#ifndef ZUBDM_FIFO_QORFIFO_H
#define ZUBDM_FIFO_QORFIFO_H

#include <zubdm/ZubdmExport.h>

#include <sys/types.h>

// One end of a named pipe: owns a descriptor and the pipe's path (at most 30
// characters; a longer one is refused with ENAMETOOLONG, since cut short it
// would name another file, perhaps the other end's pipe).
//
// The pipes carry a root login, so only safe paths are used: a pipe is
// created without access for others, and an existing path is accepted only
// when it is a FIFO owned by the effective user with no access for others.
// Symbolic links are never followed. A refused path fails with EPERM (ELOOP
// for a link met while opening) and is left untouched.
//
// Every descriptor is opened close-on-exec. Not thread-safe: the owner
// serialises use. Destruction closes the descriptor and removes the path;
// in a forked copy of the process that made or opened it, it only closes
// that copy's descriptor: the pipe stays the other process's.
class ZUBDM_EXPORT QorFIFO {
 public:
  static constexpr int NAME_SIZE = 31;
  // enable()/disable() value that selects the close-on-exec flag.
  static constexpr int CLOSE_ON_EXEC = -3;

  QorFIFO();
  // Constructs and calls create(); a failure is logged and leaves the object
  // usable for a later create() or open().
  QorFIFO(char const* name, int perms);
  ~QorFIFO();
  QorFIFO(const QorFIFO&) = delete;
  QorFIFO& operator=(const QorFIFO&) = delete;

  void set_handle(int handle) { handle_ = handle; }
  int get_handle() const { return handle_; }
  int control(int cmd, void* arg) const;
  // Points `name` at the stored path; always 0.
  int get_local_addr(char const*& name) const;

  // Switch a descriptor property on or off: CLOSE_ON_EXEC or O_NONBLOCK.
  // Other values change nothing. 0, or -1 (logged) when fcntl fails.
  int enable(int value) const;
  int disable(int value) const;

  // Opens the pipe (the stored path when `name` is null); with O_CREAT in
  // `flags` the pipe is created first as by create(). Blocks as POSIX says
  // for FIFOs unless O_NONBLOCK is given. 0, or -1 with errno set.
  int open(char const* name, int flags, int perms);
  // Creates the pipe file with `perms` limited to owner and group access; an
  // existing safe pipe is reused. Does not open it. 0, or -1 with errno set.
  int create(char const* name, int perms);
  // Closes the descriptor (0 when none is held); never retried.
  int close();
  // Closes, then unlinks the path when it is a pipe of ours, and forgets the
  // path once unlinked. 0, or -1 when the close or the unlink failed or the
  // path was not ours.
  int remove();
  // Closes this process's descriptor and forgets the path without removing
  // the file: a forked copy of the owner leaves its parent's pipe alone.
  void abandon();

  const char* name() const { return name_; }

 private:
  // False (errno ENAMETOOLONG, the stored path kept) for a path over 30
  // characters.
  bool storeName(char const* name);
  int makeFifo(int perms);
  int changeFlag(int value, bool on, const char* function) const;

  int handle_;
  char name_[NAME_SIZE];
  // The process that made or opened the pipe here.
  pid_t owner_;
};

#endif  // ZUBDM_FIFO_QORFIFO_H
