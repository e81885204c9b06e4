#ifndef ZUBDM_MEDIATOR_ZUBADAPTOR_H
#define ZUBDM_MEDIATOR_ZUBADAPTOR_H

#include <chrono>
#include <string>
#include <string_view>

#include "fifo/QorFIFO_Recv.h"
#include "fifo/QorFIFO_Send.h"
#include "mediator/CliChild.h"
#include "mediator/ExchangeRing.h"
#include "mediator/ReplyBuffer.h"
#include "registry/CliUserInfo.h"
#include "result/CLIResponse.h"

namespace ZUB_DEVICE_MEDIATION {

// Mediator between the library and the element's interactive CLI program.
//
// Construction reserves a slot in the shared table of CLI users. connect()
// creates the pipes /tmp/clPipeW<slot> (written here) and /tmp/clPipeR<slot>
// (read here), starts "cli -n <slot>" found along PATH, opens the pipes and
// logs in; send() then writes one command and reads its reply up to the next
// prompt ("HVB" ... "#"). disconnect() ends the CLI (reaping it) and removes
// the pipes; destruction also frees the slot.
//
// Every wait is bounded: each pipe open and each login prompt by the connect
// time-out, each reply by the reply time-out. A reply that timed out is
// discarded up to its prompt before the next command is written; a reply
// that exceeded the size cap leaves the mediator refusing commands until it
// is reconnected. Bytes after the "#" that ends a prompt stay buffered and
// begin the next reply. No state changes on a failed read or
// write otherwise: the mediator never restarts the CLI by itself.
//
// Where the kernel has io_uring, a command's two writes and the first read
// of its reply go to the kernel in one submission (ExchangeRing); the
// outcome, logs included, is the same as with separate system calls.
//
// Not thread-safe: the caller serialises use (commands pass through the
// controller's dispatch mutex; connect, disconnect and restart must not run
// while a command does).
class ZUBAdaptor {
 public:
  // Largest reply accepted; anything longer is a runaway CLI.
  static constexpr size_t MAX_REPLY_SIZE = 256u << 20;
  static constexpr std::chrono::milliseconds DEFAULT_CONNECT_TIMEOUT{10000};
  static constexpr std::chrono::milliseconds DEFAULT_REPLY_TIMEOUT{60000};

  ZUBAdaptor();
  ~ZUBAdaptor();
  ZUBAdaptor(const ZUBAdaptor&) = delete;
  ZUBAdaptor& operator=(const ZUBAdaptor&) = delete;

  // Brings the mediator up and logs in; true when logged in, or at once when
  // the pipes are already open (even if that login had failed).
  bool connect();
  // Ends the CLI and removes the pipes; the slot stays reserved. False (and
  // nothing changed) only when the CLI could not be signalled.
  bool disconnect();
  // disconnect(), then connect(); false when either failed.
  bool restart();
  // Answers the login prompts; 0 once logged in, -1 on failure.
  int login(const char* user, const char* password);
  // Waits for `first` (bytes before it are dropped) and then, unless empty,
  // for `second`; appends `first` and the bytes up to the end of `second` to
  // `text`. 0 when matched, -1 on a failed, closed or timed-out read.
  int swmExpect(std::string& text, const char* first, const char* second);

  bool isConnected() const { return connected; }
  bool isLoggedIn() const { return loggedIn; }
  // False while a reply that was cut off still has to be discarded.
  bool isReadyForCommand() const { return replyState_ == ReplyState::InSync; }

  // Writes `command` and "\n\r", reads the reply and stores it in
  // `response`. True when the reply was read (also when it carries an error).
  bool send(const std::string& command, CLIResponse& response);
  // Sends "end"; true when its reply carried no error and did not time out.
  bool setDeviceRootContext(CLIResponse& response);
  // Reads one reply up to its prompt and stores it in `response`.
  bool parseResult(CLIResponse& response);
  // Reads into `reply` up to and including `tag`. False on a failed, closed
  // or timed-out read; `full` is set when the size cap stopped it first.
  bool findTagEnd(std::string& reply, bool& full, const char* tag);
  // The text from the first "Error:" up to the first "HVB" (or the end).
  std::string checkError(const std::string& text);

  void setConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }
  void setReplyTimeout(std::chrono::milliseconds timeout) { replyTimeout_ = timeout; }
  std::chrono::milliseconds getConnectTimeout() const { return connectTimeout_; }
  std::chrono::milliseconds getReplyTimeout() const { return replyTimeout_; }

  int getCliIndex() const { return cliIndex; }
  int getCliPid() const { return cliPid; }

 private:
  using Clock = std::chrono::steady_clock;
  enum class ReadOutcome { Matched, Failed, TimedOut, Full };
  enum class ReplyState { InSync, TimedOut, Broken };

  bool createPipes();
  bool spawnCli();
  bool openPipes();
  bool openWritePipe(Clock::time_point deadline);
  bool endCli();
  bool sendLine(const char* text, size_t length);
  // Writes the command line (through the ring when it can, which also makes
  // the reply's first read); false, logged, when a write failed.
  bool writeCommand(const std::string& command);
  // Writes what the ring left of `text` after it wrote `written` bytes (or
  // failed with -errno); false when a write failed.
  bool finishWrite(int written, const char* text, size_t length);
  // Whether to spin for the next reply: when spins lately found it, and now
  // and then to see whether they would.
  bool shouldSpinForReply();
  // Reads until bytes come, for kSpinTime at most (never past `deadline`):
  // the bytes read, 0 at end of file, or -1 with errno (EAGAIN: none came).
  int spinRead(Clock::time_point deadline);
  // Notes that `count` bytes were read into the empty receive buffer.
  ReadOutcome received(int count);
  // Reads up to and including `tag`, appending the bytes to `sink` (when
  // not null) as long as it holds less than `limit`.
  template <typename Sink>
  ReadOutcome readUntil(const char* tag, Sink* sink, size_t limit,
                        Clock::time_point deadline);
  // Reads up to and including `tag`, dropping the bytes.
  ReadOutcome skipUntil(const char* tag, Clock::time_point deadline);
  // findTagEnd for any sink.
  template <typename Sink>
  bool readReplyUntil(Sink* reply, bool& full, const char* tag);
  ReadOutcome waitReadable(Clock::time_point deadline);
  // Reads the next bytes into the empty receive buffer, waiting for them at
  // most until `deadline`.
  ReadOutcome refill(Clock::time_point deadline);
  bool discardLateReply();

  bool connected;
  bool loggedIn;
  CliUserInfo cliUsers;
  QorFIFO_Recv fifoRecv;
  QorFIFO_Send fifoSend;
  int cliPid;
  int cliIndex;

  CliChild child_;
  std::chrono::milliseconds connectTimeout_;
  std::chrono::milliseconds replyTimeout_;
  ReplyState replyState_;
  // Where a cut-off reply stopped: its "HVB" or, after that, its "#".
  const char* lateTag_;
  // Set by a read that ran out of time; parseResult marks the response.
  bool readTimedOut_;
  Clock::time_point replyDeadline_;
  // Where replies are read; memory kept between small replies.
  ReplyBuffer replyBuffer_;
  // The receive descriptor does not block, so a read may come before a wait.
  bool readsNonBlocking_;
  // The last read filled the receive buffer: more bytes are probably waiting.
  bool lastReadFull_;
  // Whether replies recently came while the mediator spun for them: raised
  // by 2 when a spin found bytes, lowered by 1 when it found none, kept
  // within +-kEarlyRepliesMax; above 0 the mediator spins for each reply.
  int earlyReplies_;
  static constexpr int kEarlyRepliesMax = 8;
  // Otherwise it spins for every kTrySpinEvery-th reply, to notice a change.
  int waitsSinceTry_;
  static constexpr int kTrySpinEvery = 32;
  // How long a spin reads before the mediator sleeps until the reply comes.
  static constexpr std::chrono::microseconds kSpinTime{25};
  // Spinning pays only where the CLI can run meanwhile: on another CPU.
  bool spinAllowed_;
  // The next reply's first bytes are spun for.
  bool spinForReply_;
  // Submits each exchange's writes and first read at once, where it can.
  ExchangeRing ring_;
  // The result of that read, for the reply's first refill: bytes read into
  // the receive buffer or -errno (kNoRingRead when none was made).
  int ringRead_;
  static constexpr int kNoRingRead = -1;
};

// Starts "cli -n <index>" found along PATH; returns its process id, or -1
// when it could not be started (the reason goes to standard error and
// syslog as "execvp() failed").
int swmSpawnCli(int index);

// Sends SIGTERM to `pid`; false (logged) when the signal was not delivered.
bool swmKillCli(int pid);

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_MEDIATOR_ZUBADAPTOR_H
