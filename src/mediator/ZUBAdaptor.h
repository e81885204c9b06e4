#ifndef ZUBDM_MEDIATOR_ZUBADAPTOR_H
#define ZUBDM_MEDIATOR_ZUBADAPTOR_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ZubdmExport.h"
#include "fifo/QorFIFO_Recv.h"
#include "fifo/QorFIFO_Send.h"
#include "registry/CliUserInfo.h"
#include "result/CLIResponse.h"
#include "result/FailureKind.h"

namespace ZUB_DEVICE_MEDIATION {

// Mediator between the library and the element's interactive CLI program.
//
// Construction reserves a slot in the shared table of CLI users. connect()
// creates the pipes /tmp/clPipeW<slot> (written here) and /tmp/clPipeR<slot>
// (read here), starts "cli -n <slot>" found along PATH, with every signal at
// its default disposition, opens the pipes and logs in; send() then writes
// one command and reads its reply up to the prompt that ends it (see
// below). disconnect() ends the CLI (reaping it) and removes the pipes;
// destruction also frees the slot. Each failed step of a connection logs
// one extra line starting with "cause: " that says why. The pipe to the CLI
// is held open for reading here too, so that a write to a CLI that has gone
// never raises SIGPIPE in the host.
//
// A reply ends at the first prompt that starts a line: "HVB", at most 64
// bytes that are no blanks, line ends or "#", then "#". A prompt-like text
// in the middle of a line ends the reply only when the CLI then writes
// nothing but blanks for 50 ms. Whatever the CLI has sent after a prompt
// is dropped (and logged) before the next command is written, never taken
// for its reply; a prompt it prints unasked after that is not told apart.
// Text holding "\n", "\r" or NUL is refused before anything is written.
//
// Every wait is bounded and is a poll on the pipe, the CLI's exit and a wake
// descriptor: each pipe open and each login prompt by the connect time-out;
// writing a command, and then its reply, each by the reply time-out. A CLI
// that exits is noticed at once and reaped. cancel() ends the wait in
// progress. A reply that timed out (or was cancelled) is discarded up to
// its prompt before the next command is written; a reply over the size cap
// or one that could not be held in memory, or a command line that went out
// only in part, leaves the mediator refusing commands until it is
// reconnected. The mediator never restarts the CLI by itself.
//
// Thread-safe: operations are serialised by a lock of the mediator's own.
// disconnect() and restart() called while another thread runs a command
// first cancel that command (it fails as cancelled), then proceed;
// connect() waits for it. cancel() may also be called from a signal
// handler. In a forked copy of the host process, destruction, disconnect()
// and restart() only close that process's copies of the descriptors: the
// CLI, the slot and the pipe files stay with the process that made them;
// every exchange there fails at once (NotConnected), without waiting for a
// lock that a thread of the parent may have held.
class ZUBDM_EXPORT ZUBAdaptor {
 public:
  // Largest reply accepted; anything longer is a runaway CLI.
  static constexpr size_t MAX_REPLY_SIZE = size_t{256} << 20;
  static constexpr std::chrono::milliseconds DEFAULT_CONNECT_TIMEOUT{10000};
  static constexpr std::chrono::milliseconds DEFAULT_REPLY_TIMEOUT{60000};

  ZUBAdaptor();
  ~ZUBAdaptor();
  ZUBAdaptor(const ZUBAdaptor&) = delete;
  ZUBAdaptor& operator=(const ZUBAdaptor&) = delete;

  // Brings the mediator up and logs in; true when logged in. Once the pipes
  // are open it returns at once: true when that login succeeded, false
  // when it failed (restart() starts over).
  bool connect();
  // Ends the CLI and removes the pipes; the slot stays reserved. False (and
  // nothing changed) only when the CLI could not be signalled.
  bool disconnect();
  // disconnect(), then connect(); false when either failed.
  bool restart();
  // Answers the login prompts; 0 once logged in, -1 on failure (a null user
  // or password included).
  int login(const char* user, const char* password);
  // Waits for `first` (bytes before it are dropped) and then, unless empty,
  // for `second`; appends `first` and the bytes up to the end of `second` to
  // `text`. 0 when matched, -1 on a failed, closed or timed-out read or
  // when `first` is null or empty (nothing is read then).
  int swmExpect(std::string& text, const char* first, const char* second);

  bool isConnected() const { return connected; }
  bool isLoggedIn() const { return loggedIn; }
  // False once the stream from the CLI can no longer be framed into replies
  // (a reply over the size cap, a command line written only in part).
  bool isReadyForCommand() const;

  // Writes `command` and "\n\r", reads the reply and stores it in
  // `response`. True when the reply was read (also when it carries an error).
  bool send(const std::string& command, CLIResponse& response);
  // Sends "end"; true when its reply carried no error and did not time out.
  bool setDeviceRootContext(CLIResponse& response);
  // Reads one reply up to its prompt and stores it in `response`.
  bool parseResult(CLIResponse& response);
  // Reads into `reply` up to and including `tag`. False on a failed, closed
  // or timed-out read, or for a null or empty `tag`; `full` is set when the
  // size cap stopped it first.
  bool findTagEnd(std::string& reply, bool& full, const char* tag);
  // The text from the first "Error:" up to the first "HVB" (or the end).
  std::string checkError(const std::string& text);

  // Ends the wait in progress (a pipe open, a login prompt, a command's
  // write or reply) at once, failing that step as a time-out would; called
  // while nothing waits, it ends the next wait so, and is then forgotten.
  // Safe from any thread and from a signal handler: it only writes to an
  // eventfd.
  void cancel() noexcept;

  // Which way bytes went, for the transcript.
  enum class Direction { ToCli, FromCli };
  using TranscriptSink = std::function<void(Direction, std::string_view)>;
  // Receives every byte written to and read from the CLI, in order, the
  // bytes read and then dropped included; the login password is passed as
  // "****". Called on the thread doing the I/O; it must not call into this
  // mediator. An exception it throws is caught and logged, and the sink then
  // gets nothing more. An empty function (the default) records nothing. Set
  // it while no command runs.
  void setTranscriptSink(TranscriptSink sink);

  // Largest reply accepted (default MAX_REPLY_SIZE). A larger one fails its
  // command and leaves the mediator refusing commands until reconnected.
  void setMaxReplySize(size_t bytes);
  size_t getMaxReplySize() const;
  // Replaces the host's extra prefixes of device error lines (besides
  // "Error:"), such as "% ". False, and nothing changed, for an empty prefix
  // or one holding a control byte. Set it while no command runs.
  bool setErrorPrefixes(const std::vector<std::string>& prefixes);

  // Why the last send() or connect() failed; None after one that succeeded.
  FailureKind getLastFailure() const;

  // A negative time-out counts as none (the wait ends at once), one of
  // more than a year as a year.
  void setConnectTimeout(std::chrono::milliseconds timeout);
  void setReplyTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds getConnectTimeout() const;
  std::chrono::milliseconds getReplyTimeout() const;

  int getCliIndex() const { return cliIndex; }
  int getCliPid() const { return cliPid; }

 private:
  struct Impl;
  // Runs a whole forwarded command under the mediator's lock.
  friend class CmdDriver;

  bool createPipes();
  bool spawnCli();
  bool openPipes();
  // Opens the write pipe as soon as the CLI has opened its end; false with
  // the reason in `problem` when the CLI ended or the bound passed first.
  bool openWritePipe(std::string& problem);
  // The login's last wait: the first prompt, by the replies' prompt rule.
  bool waitForFirstPrompt();
  bool endCli();
  // Closes both pipes and removes their files.
  void removePipes();
  // A forked copy of the host closes its own descriptors and nothing else.
  void leaveToOwner();
  // Connected, in the process that made the mediator: its lock may be taken.
  bool ownConnection() const;
  // Holds off connect, disconnect and restart of other threads from the
  // start of a forwarded command to its end; not taken in a forked copy of
  // the host, where a thread of the parent may have held it.
  class CommandLock {
   public:
    explicit CommandLock(ZUBAdaptor& adaptor);
    ~CommandLock();
    CommandLock(const CommandLock&) = delete;
    CommandLock& operator=(const CommandLock&) = delete;

   private:
    ZUBAdaptor& adaptor_;
    const bool locked_;
  };
  // Drops what is left of earlier replies before a command is written.
  bool prepareForCommand();
  // The rest of a reply that timed out or was cancelled is still to come.
  bool owesReply() const;
  // Writes a command line; false (logged) when it did not go out whole.
  bool writeCommand(const std::string& command);
  // Stores the reply just read; false when memory ran out doing so.
  bool storeReply(CLIResponse& response);
  // Writes `line`, waiting for room at most until `deadline`; returns how
  // many of its bytes went out (fewer when the deadline passed, the wait was
  // cancelled, the CLI ended or a write failed). A secret is passed to the
  // transcript as "****".
  size_t writeLine(std::string_view line,
                   std::chrono::steady_clock::time_point deadline, bool secret);

  // Everything beyond the fields below; null only when it could not be
  // allocated, which leaves the mediator unable to connect.
  std::unique_ptr<Impl> impl_;

  // Atomic (each the size of the plain type): the getters above may be
  // called from any thread while another one connects or runs a command.
  std::atomic<bool> connected;
  std::atomic<bool> loggedIn;
  CliUserInfo cliUsers;
  QorFIFO_Recv fifoRecv;
  QorFIFO_Send fifoSend;
  std::atomic<int> cliPid;
  int cliIndex;
};

// Starts "cli -n <index>" found along PATH; returns its process id, or -1
// when it could not be started (the reason goes to standard error and
// syslog as "execvp() failed").
ZUBDM_EXPORT int swmSpawnCli(int index);

// Sends SIGTERM to `pid`; false (logged) when the signal was not delivered.
ZUBDM_EXPORT bool swmKillCli(int pid);

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_MEDIATOR_ZUBADAPTOR_H
