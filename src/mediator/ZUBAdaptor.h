#ifndef ZUBDM_MEDIATOR_ZUBADAPTOR_H
#define ZUBDM_MEDIATOR_ZUBADAPTOR_H

#include <zubdm/ZubdmExport.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <zubdm/fifo/QorFIFO_Recv.h>
#include <zubdm/fifo/QorFIFO_Send.h>
#include <zubdm/mediator/MachineNames.h>
#include <zubdm/registry/CliUserInfo.h>
#include <zubdm/result/CLIResponse.h>
#include <zubdm/result/FailureKind.h>

namespace zubdm {
namespace internal {
class ShowParser;
class UserSlot;
}  // namespace internal
}  // namespace zubdm

namespace ZUB_DEVICE_MEDIATION {

// Mediator between the library and the element's interactive CLI program.
//
// Construction reserves a slot in the shared table of CLI users. connect()
// creates the pipes /tmp/clPipeW<slot> (written here) and /tmp/clPipeR<slot>
// (read here), starts "cli -n <slot>" found along PATH, with every signal at
// its default disposition, opens the pipes and logs in; send() then writes
// one command and reads its reply up to the prompt that ends it (see
// below). disconnect() ends the CLI (reaping it) and removes the pipes;
// destruction also frees the slot. Every failure leaves a record
// (getFailureRecord()); each failed step of a connection also logs one
// line starting with "cause: " that says why. The pipe to the CLI is held
// open for reading here too, so that a write to a CLI that has gone never
// raises SIGPIPE in the host.
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
// that exits is noticed at once and reaped; from then on the mediator is
// neither connected nor logged in, and only restart() brings it up again.
// cancel() ends the wait in progress. A reply that timed out (or was
// cancelled) is discarded up to its prompt before the next command is
// written; a reply over the size cap or one that could not be held in
// memory, or a command line that went out only in part, leaves the
// mediator refusing commands until it is restarted. The mediator never
// restarts the CLI by itself.
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
  // are open it returns at once: true while logged in, false after a failed
  // login or once the CLI has gone (restart() starts over).
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

  // Connected: the pipes are open and the CLI is not known to have gone.
  bool isConnected() const;
  bool isLoggedIn() const;
  // False while the mediator refuses commands until it is restarted: the
  // stream from the CLI can no longer be framed into replies (a reply over
  // the size cap, a command line written only in part), or the CLI has gone.
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

  // Line prefixes that mark a device error in a reply, besides "Error:"
  // (another CLI's "% ", say); they replace those set before. False, and
  // nothing changed, for an empty prefix or one holding a control byte. Set
  // it while no command runs.
  bool setErrorPrefixes(const std::vector<std::string>& prefixes);

  // Largest reply accepted (default MAX_REPLY_SIZE). A larger one fails its
  // command and leaves the mediator refusing commands until restarted.
  void setMaxReplySize(size_t bytes);
  size_t getMaxReplySize() const;

  // The kind of the last connection or exchange failure; None after a
  // connect() or send() that succeeded. Safe from any thread.
  FailureKind getLastFailure() const;
  // The whole record of it: the step, the errno, the path or process, how
  // the CLI ended. Safe from any thread.
  FailureRecord getFailureRecord() const;

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

  explicit ZUBAdaptor(const MachineNames& names);
  // The show document of the last reply, parsed as it arrived; null when
  // it had none (or it was not whole). For the driver, which adopts it.
  zubdm::internal::ShowParser* parsedDocument();

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

  // Declared in the order that makes destruction release them right: the
  // CLI is ended (impl_ goes first), then the pipe files are removed, then
  // the slot is freed, then the table's mapping goes. `connected` and
  // `loggedIn` follow the mediator's state, which only impl_'s transitions
  // change; atomic (each the size of the plain type) because the getters may
  // be called from any thread.
  std::atomic<bool> connected;
  std::atomic<bool> loggedIn;
  CliUserInfo cliUsers;
  std::unique_ptr<zubdm::internal::UserSlot> slot_;
  QorFIFO_Recv fifoRecv;
  QorFIFO_Send fifoSend;
  std::atomic<int> cliPid;
  int cliIndex;
  // The CLI child and everything of the exchanges; null only when it could
  // not be allocated, which leaves the mediator unable to connect.
  std::unique_ptr<Impl> impl_;
};

// Starts "cli -n <index>" found along PATH; returns its process id, or -1
// when it could not be started (the reason goes to standard error and
// syslog as "execvp() failed").
ZUBDM_EXPORT int swmSpawnCli(int index);

// Sends SIGTERM to `pid`; false (logged) when the signal was not delivered.
ZUBDM_EXPORT bool swmKillCli(int pid);

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_MEDIATOR_ZUBADAPTOR_H
