#include <zubdm/mediator/ZUBAdaptor.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include <zubdm/common/CliDialect.h>
#include <zubdm/common/CliLogHelper.h>
#include <zubdm/common/LineText.h>
#include <zubdm/fifo/PipeIo.h>
#include <zubdm/mediator/CliChild.h>
#include <zubdm/mediator/DocumentTap.h>
#include <zubdm/mediator/PipeSource.h>
#include <zubdm/mediator/ReplyClassifier.h>
#include <zubdm/mediator/ReplyReader.h>
#include <zubdm/mediator/Waiter.h>
#include <zubdm/registry/UserTable.h>

namespace ZUB_DEVICE_MEDIATION {

namespace dialect = zubdm::internal::dialect;
using zubdm::internal::CliChild;
using zubdm::internal::Clock;
using zubdm::internal::failureOf;
using zubdm::internal::ReplyClassifier;
using zubdm::internal::ReplyReader;
using zubdm::internal::UserSlot;
using zubdm::internal::Waiter;

static_assert(sizeof(std::atomic<bool>) == sizeof(bool) &&
                  sizeof(std::atomic<int>) == sizeof(int),
              "atomic fields the size of plain ones");

constexpr size_t ZUBAdaptor::MAX_REPLY_SIZE;
constexpr std::chrono::milliseconds ZUBAdaptor::DEFAULT_CONNECT_TIMEOUT;
constexpr std::chrono::milliseconds ZUBAdaptor::DEFAULT_REPLY_TIMEOUT;

namespace {

const char kLogFile[] = "ZUBAdaptor";
const int kTableSize = 1740;
const int kPipeMode = 0667;
// How long a CLI gets to end after SIGTERM before it is killed.
const int kTerminateGraceMs = 300;
// Bounds of the time-outs a host sets: a deadline further away would run
// past the clock's range and pass at once.
const std::chrono::milliseconds kNoWait{0};
const std::chrono::milliseconds kLongestWait = std::chrono::hours(24 * 365);
// Longest pause between attempts to open the write pipe, which cannot be
// polled: the open fails with ENXIO until the CLI has opened its end.
const std::chrono::milliseconds kMaxOpenPause{20};
// How long a CLI must be silent before a stream out of step is taken up again.
const std::chrono::milliseconds kQuiet{50};
// How much of an unexpected reply an error quotes.
const size_t kQuotedBytes = 64;

void log(int line, const char* function, const std::string& text) {
  CliLogHelper(3, kLogFile, function, line).message(text);
}

// The line end that a login line carries, shown after a masked secret.
std::string_view lineEndOf(std::string_view text) {
  const size_t end = text.find_last_not_of("\r\n");
  return text.substr(end == std::string_view::npos ? 0 : end + 1);
}

FailureRecord failureAt(FailureKind kind, FailureStep step) {
  FailureRecord failure = failureOf(kind);
  failure.step = step;
  return failure;
}

// A path that could not be made or opened: what is there, when someone
// else put it there.
FailureRecord pathFailure(FailureStep step, const std::string& path, int error) {
  FailureRecord failure = failureOf(FailureKind::NotConnected, error);
  failure.step = step;
  failure.path = path;
  struct stat status;
  if (error == EPERM && lstat(path.c_str(), &status) == 0) {
    failure.fileMode = status.st_mode;
    failure.fileOwner = status.st_uid;
  }
  return failure;
}

// Counts the forks of this process in the child, so that a copy is told
// apart per call without a system call.
std::atomic<unsigned> gForks{0};
[[maybe_unused]] const int kForkCounter = pthread_atfork(nullptr, nullptr, [] { ++gForks; });

}  // namespace

// What the mediator is doing with its CLI. Only enter() changes it.
enum class LinkState {
  Down,         // no CLI connection: connect() brings one up
  LoggingIn,    // the pipes are open, the login runs
  LoggedIn,     // commands go to the CLI
  Refusing,     // logged in, but the stream can no longer be framed
  LoginFailed,  // the CLI did not let us in: restart() starts over
  Gone,         // the CLI has ended or closed its output
  Forked,       // a forked copy of the process that made the mediator
};

struct ZUBAdaptor::Impl {
  Impl(ZUBAdaptor& adaptor, const MachineNames& machine)
      : self(adaptor), names(machine), source(waiter, child), reader(source) {
    reader.setTap(&tap);
  }

  // The transitions: the state, and the fields and getters that follow it.
  void enter(LinkState next) {
    state = next;
    self.connected = next == LinkState::LoggingIn || next == LinkState::LoggedIn ||
                     next == LinkState::Refusing || next == LinkState::LoginFailed;
    self.loggedIn = next == LinkState::LoggedIn || next == LinkState::Refusing;
  }
  // Records `failure` as the last one; a CLI known to have gone takes the
  // connection down with it. Returns false, for the caller to return.
  bool fail(const FailureRecord& failure) {
    {
      std::lock_guard<std::mutex> guard(recordLock);
      last = failure;
    }
    lastKind = failure.kind;
    if (failure.kind == FailureKind::CliGone && state != LinkState::Down &&
        state != LinkState::Forked) {
      enter(LinkState::Gone);
    }
    return false;
  }
  // No framing can be trusted from now on: a runaway reply, a line written
  // in part.
  bool refuse(const FailureRecord& failure) {
    fail(failure);
    if (state == LinkState::LoggedIn) {
      refusedBy = failure;
      enter(LinkState::Refusing);
    }
    return false;
  }
  // A failed step of the connection: its message, the cause line, the record.
  bool failStep(int line, const char* message, const FailureRecord& failure) {
    log(line, "connect", message);
    log(line, "connect", "cause: " + describeFailure(failure));
    return fail(failure);
  }
  // `failure` completed with the step, the bound it waited for and the CLI.
  FailureRecord at(FailureRecord failure, FailureStep step, std::chrono::milliseconds bound) const {
    failure.step = step;
    if (failure.kind == FailureKind::TimedOut) failure.limit = static_cast<uint64_t>(bound.count());
    if (failure.pid < 0) failure.pid = child.pid();
    return failure;
  }

  // A forked copy of the host closes its own descriptors and nothing else:
  // the CLI, its slot and its pipe files stay with the process that made
  // them.
  bool forked() {
    if (state != LinkState::Forked && inCopy()) {
      child.abandon();
      self.fifoRecv.abandon();
      self.fifoSend.abandon();
      source.setDescriptor(-1);
      self.cliPid = -1;
      enter(LinkState::Forked);
    }
    return state == LinkState::Forked;
  }
  // Ours, up, and in the process that made it: its lock may be taken.
  bool usable() { return !forked() && self.connected; }

  void record(Direction direction, std::string_view bytes) {
    if (!transcript || bytes.empty()) return;
    try {
      transcript(direction, bytes);
    } catch (...) {
      // An exchange cut short here would leave the CLI's line state
      // unknown: the exchange goes on, and the sink gets nothing more.
      transcript = nullptr;
      log(__LINE__, "setTranscriptSink", "the transcript sink threw; it gets no more bytes");
    }
  }

  bool createPipes();
  bool spawnCli();
  bool openPipes();
  FailureRecord openWritePipe();
  bool login(const char* user, const char* password);
  bool expect(const char* text, FailureStep step, std::string* into);
  bool waitForFirstPrompt();
  bool exchange(const std::string& command, CLIResponse& response);
  bool prepareForCommand();
  bool writeCommand(const std::string& command);
  // Writes `line`, waiting for room at most until `deadline`, and takes in
  // meanwhile what the CLI writes, so that a CLI echoing a long line never
  // blocks on us. The failure, and in `written` how many bytes went out.
  FailureRecord writeLine(std::string_view line, zubdm::internal::Deadline deadline, bool secret,
                          size_t& written);
  // Reads the reply to `line` ("" for none known) into `response`.
  bool readReply(CLIResponse& response, const std::string& line);
  bool storeReply(CLIResponse& response, const std::string& line);
  // Where the output of `reply` to `line` begins, after its echo; learns
  // from the reply to the first root reset whether the CLI echoes. npos
  // for a reply that does not begin with the echo of its line.
  size_t outputStart(std::string_view reply, const std::string& line);

  ZUBAdaptor& self;
  const MachineNames names;
  // The forks the process had made when the mediator was: one more since
  // means this is a copy.
  const unsigned forksBefore = gForks;
  bool inCopy() const { return gForks != forksBefore; }
  // Serialises connect, disconnect, restart and the exchanges of a command;
  // recursive because those call one another.
  std::recursive_mutex operation;
  std::atomic<LinkState> state{LinkState::Down};
  CliChild child;
  Waiter waiter;
  zubdm::internal::PipeSource source;
  ReplyReader reader;
  // Parses each reply's show document as it arrives; `parsed` is the last
  // reply's, when it had a whole one.
  zubdm::internal::DocumentTap tap;
  zubdm::internal::ShowParser* parsed = nullptr;
  // Atomic where a host may read or set them while a command runs.
  std::atomic<std::chrono::milliseconds> connectTimeout{DEFAULT_CONNECT_TIMEOUT};
  std::atomic<std::chrono::milliseconds> replyTimeout{DEFAULT_REPLY_TIMEOUT};
  TranscriptSink transcript;
  zubdm::internal::CliDialect rules;
  // Whether the CLI echoes what it is sent, learnt once per connection.
  enum class Echo { Unknown, Yes, No } echo = Echo::Unknown;
  // A reply came out of step: the stream is being brought back in step.
  bool resyncing = false;
  // The last failure, readable from any thread.
  mutable std::mutex recordLock;
  FailureRecord last;
  std::atomic<FailureKind> lastKind{FailureKind::None};
  // What left the mediator refusing commands; why no slot was reserved.
  FailureRecord refusedBy;
  FailureRecord slotFailure;
};

ZUBAdaptor::ZUBAdaptor() : ZUBAdaptor(machineNames()) {}

ZUBAdaptor::ZUBAdaptor(const MachineNames& names)
    : connected(false),
      loggedIn(false),
      cliUsers(names.userTable.c_str(), kTableSize),
      cliPid(-1),
      cliIndex(-1),
      impl_(new (std::nothrow) Impl(*this, names)) {
  zubdm::internal::UserTable* table = cliUsers.table();
  UserSlot slot = table ? table->reserve() : UserSlot();
  if (slot) slot_.reset(new (std::nothrow) UserSlot(std::move(slot)));
  cliIndex = slot_ ? slot_->index() : -1;
  if (cliIndex != -1) return;
  log(__LINE__, __func__, "No free cli index");
  log(__LINE__, __func__, "cause: " + cliUsers.failureCause());
  if (!impl_) return;
  impl_->slotFailure = table ? table->failure() : failureOf(FailureKind::OutOfMemory);
  impl_->fail(impl_->slotFailure);
}

ZUBAdaptor::~ZUBAdaptor() = default;

bool ZUBAdaptor::connect() {
  if (!impl_) return false;
  Impl& d = *impl_;
  if (d.forked()) {
    log(__LINE__, __func__, "Can't connect: this process did not create the mediator");
    return false;
  }
  std::lock_guard<std::recursive_mutex> guard(d.operation);
  if (cliIndex == -1) {
    return d.failStep(__LINE__, "Can't connect: no CLI user slot was reserved", d.slotFailure);
  }
  const LinkState state = d.state;
  // After a failed login, or once the CLI has gone, restart() starts over.
  if (state != LinkState::Down) return state == LinkState::LoggedIn || state == LinkState::Refusing;
  if (!d.createPipes() || !d.spawnCli() || !d.openPipes()) return false;
  d.enter(LinkState::LoggingIn);
  if (!d.login(dialect::kUser, dialect::kPassword)) {
    log(__LINE__, __func__, "Can't login");
    return false;
  }
  return !d.fail(FailureRecord());
}

bool ZUBAdaptor::Impl::createPipes() {
  for (const bool written : {true, false}) {
    QorFIFO& fifo = written ? static_cast<QorFIFO&>(self.fifoSend) : self.fifoRecv;
    const std::string name = names.pipe(self.cliIndex, written);
    if (fifo.create(name.c_str(), kPipeMode) == 0) continue;
    return failStep(__LINE__,
                    (std::string("Can't create ") + (written ? "write" : "read") + " FIFO:" + name).c_str(),
                    pathFailure(FailureStep::PipeCreate, name, errno));
  }
  return true;
}

bool ZUBAdaptor::Impl::spawnCli() {
  const pid_t pid = CliChild::spawn(names.cliProgram, self.cliIndex);
  if (pid == -1) {
    FailureRecord failure = failureOf(FailureKind::NotConnected, errno);
    failure.step = FailureStep::Spawn;
    failure.path = names.cliProgram;
    return failStep(__LINE__, "Can't create CLI process", failure);
  }
  // A CLI left running by an earlier failed connect is ended, not orphaned.
  child.adopt(pid);
  self.cliPid = pid;
  self.slot_->setPid(pid);
  return true;
}

bool ZUBAdaptor::Impl::openPipes() {
  const FailureRecord written = openWritePipe();
  if (written) return failStep(__LINE__, "Cant open FIFO", written);
  // Non-blocking from the open on: the open returns at once, and every
  // read follows a poll.
  if (self.fifoRecv.QorFIFO::open(nullptr, O_RDONLY | O_NONBLOCK, kPipeMode) == -1) {
    return failStep(__LINE__, "Can't open fifo",
                    pathFailure(FailureStep::PipeOpen, self.fifoRecv.name(), errno));
  }
  source.setDescriptor(self.fifoRecv.get_handle());
  reader.reset();
  echo = Echo::Unknown;
  resyncing = false;
  return true;
}

FailureRecord ZUBAdaptor::Impl::openWritePipe() {
  QorFIFO_Send& fifo = self.fifoSend;
  const std::chrono::milliseconds bound = connectTimeout;
  const auto deadline = Clock::now() + bound;
  std::chrono::milliseconds pause{1};
  for (;;) {
    // Stays non-blocking: every write waits in the same bounded poll.
    if (fifo.open(nullptr, O_NONBLOCK, kPipeMode) == 0) {
      // Once the CLI reads it, the pipe is held open for reading here too:
      // a write to a CLI that has gone then never raises SIGPIPE (its exit
      // is seen by the wait), so commands change no signal mask.
      if (fifo.QorFIFO::open(nullptr, O_RDWR | O_NONBLOCK, kPipeMode) == 0) return FailureRecord();
      return pathFailure(FailureStep::PipeOpen, fifo.name(), errno);
    }
    // ENXIO: the CLI has not opened its reading end yet.
    if (errno != ENXIO) return pathFailure(FailureStep::PipeOpen, fifo.name(), errno);
    // Ends early when the CLI exits instead, or on cancel().
    FailureRecord failure = child.exited() ? failureOf(FailureKind::CliGone)
                                           : waiter.wait(-1, -1, child.exitFd(),
                                                         std::min(deadline, Clock::now() + pause));
    if (failure.kind == FailureKind::TimedOut && Clock::now() < deadline) failure = FailureRecord();
    if (failure.kind == FailureKind::CliGone) child.describeEnd(0, failure);
    if (failure) {
      failure.path = fifo.name();
      return at(failure, FailureStep::PipeOpen, bound);
    }
    pause = std::min(pause * 2, kMaxOpenPause);
  }
}

int ZUBAdaptor::login(const char* user, const char* password) {
  if (loggedIn) return 0;
  bool ok = false;
  if (impl_ && impl_->usable() && user != nullptr && password != nullptr) {
    std::lock_guard<std::recursive_mutex> guard(impl_->operation);
    ok = impl_->login(user, password);
  }
  if (ok) return 0;
  log(__LINE__, "login", " nmsCliLogin: failed!");
  return -1;
}

bool ZUBAdaptor::Impl::login(const char* user, const char* password) {
  bool ok = true;
  const struct {
    const char* prompt;
    const char* answer;
    FailureStep step;
  } steps[] = {{dialect::kLoginPrompt, user, FailureStep::LoginPrompt},
               {dialect::kPasswordPrompt, password, FailureStep::PasswordPrompt}};
  for (const auto& step : steps) {
    size_t written = 0;
    const std::chrono::milliseconds bound = connectTimeout;
    ok = ok && expect(step.prompt, step.step, nullptr);
    const FailureRecord failure =
        ok ? writeLine(step.answer, Clock::now() + bound, step.step == FailureStep::PasswordPrompt,
                       written)
           : FailureRecord();
    ok = ok && (!failure || fail(at(failure, step.step, bound)));
  }
  ok = ok && waitForFirstPrompt();
  if (ok || state == LinkState::LoggingIn) enter(ok ? LinkState::LoggedIn : LinkState::LoginFailed);
  return ok;
}

bool ZUBAdaptor::Impl::expect(const char* text, FailureStep step, std::string* into) {
  const std::chrono::milliseconds bound = connectTimeout;
  const auto deadline = Clock::now() + bound;
  FailureRecord failure = into != nullptr ? reader.readThrough(text, *into, deadline)
                                          : reader.skipPast(text, deadline);
  if (!failure) return true;
  failure = at(failure, step, bound);
  failure.path = text;
  return failStep(__LINE__, "read from fifo failed!", failure);
}

bool ZUBAdaptor::Impl::waitForFirstPrompt() {
  // The same prompt rule as every reply's: a prompt-like text in a banner
  // does not end the login early.
  const std::chrono::milliseconds bound = connectTimeout;
  FailureRecord failure = reader.readReply(Clock::now() + bound);
  reader.releaseReply();
  if (!failure) return true;
  failure = at(failure, FailureStep::FirstPrompt, bound);
  // What the CLI wrote instead ("Login incorrect ... Login:") says why.
  failure.text = std::string(reader.unframedTail());
  failure.loginRefused = failure.text.find(dialect::kLoginPrompt) != std::string::npos;
  return failStep(__LINE__, "read from fifo failed!", failure);
}

int ZUBAdaptor::swmExpect(std::string& text, const char* first, const char* second) {
  if (first == nullptr || *first == '\0' || !impl_ || !impl_->usable()) {
    log(__LINE__, __func__, first == nullptr || *first == '\0' ? "swmExpect: no text to wait for"
                                                               : "read from fifo failed!");
    return -1;
  }
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  const FailureStep step = std::strcmp(first, dialect::kPasswordPrompt) == 0
                               ? FailureStep::PasswordPrompt
                               : FailureStep::LoginPrompt;
  if (!impl_->expect(first, step, nullptr)) return -1;
  text.append(first);
  if (second == nullptr || *second == '\0') return 0;
  return impl_->expect(second, step, &text) ? 0 : -1;
}

bool ZUBAdaptor::disconnect() {
  if (!impl_ || impl_->forked()) return true;
  Impl& d = *impl_;
  // A command running on another thread ends first, as cancelled.
  d.waiter.cancel();
  std::lock_guard<std::recursive_mutex> guard(d.operation);
  d.waiter.forgetCancel();
  const int error = d.child.terminate(kTerminateGraceMs);
  if (error != 0) {
    log(__LINE__, "swmKillCli",
        "swmKillCli: " + std::string(strerror(error)) + ", " + std::to_string(error));
    log(__LINE__, __func__, "Can't disconnect cli mediator");
    return false;
  }
  fifoRecv.remove();
  fifoSend.remove();
  cliPid = -1;
  d.source.setDescriptor(-1);
  d.reader.reset();
  d.enter(LinkState::Down);
  return true;
}

bool ZUBAdaptor::restart() {
  bool ok = false;
  if (impl_ && !impl_->forked()) {
    // A command running on another thread ends first, as cancelled.
    impl_->waiter.cancel();
    std::lock_guard<std::recursive_mutex> guard(impl_->operation);
    ok = disconnect() && connect();
  }
  if (!ok) log(__LINE__, __func__, "Can't restart cli mediator");
  return ok;
}

ZUBAdaptor::CommandLock::CommandLock(ZUBAdaptor& adaptor)
    // In a forked copy of the host the lock may be held by a thread that
    // exists only in the parent: it is not taken, and every line is refused.
    : adaptor_(adaptor), locked_(adaptor.impl_ && !adaptor.impl_->forked()) {
  if (locked_) adaptor_.impl_->operation.lock();
}

ZUBAdaptor::CommandLock::~CommandLock() {
  if (locked_) adaptor_.impl_->operation.unlock();
}

bool ZUBAdaptor::isConnected() const { return connected && impl_ && !impl_->inCopy(); }

bool ZUBAdaptor::isLoggedIn() const { return loggedIn && impl_ && !impl_->inCopy(); }

bool ZUBAdaptor::isReadyForCommand() const {
  if (!impl_ || impl_->inCopy()) return false;
  const LinkState state = impl_->state;
  return state != LinkState::Refusing && state != LinkState::Gone && state != LinkState::Forked;
}

FailureRecord ZUBAdaptor::Impl::writeLine(std::string_view line,
                                          zubdm::internal::Deadline deadline, bool secret,
                                          size_t& written) {
  const int sendFd = self.fifoSend.get_handle();
  int recvFd = self.fifoRecv.get_handle();
  written = 0;
  FailureRecord failure;
  while (written < line.size() && !failure) {
    const ssize_t count =
        zubdm::internal::writePipe(sendFd, line.data() + written, line.size() - written);
    if (count > 0) {
      if (!secret) record(Direction::ToCli, line.substr(written, static_cast<size_t>(count)));
      written += static_cast<size_t>(count);
      continue;
    }
    Waiter::Ready ready;
    // The pipe is full: wait for room, and meanwhile take in what the CLI
    // writes.
    failure = count < 0 && errno != EAGAIN
                  ? failureOf(FailureKind::CliGone, errno)
                  : waiter.wait(recvFd, sendFd, child.exitFd(), deadline, &ready);
    if (failure.kind == FailureKind::CliGone) child.describeEnd(0, failure);
    if (!failure && ready.readable) {
      const FailureRecord taken = reader.absorb();
      // A pipe that closed would be readable for ever.
      if (taken.kind == FailureKind::CliGone) recvFd = -1;
      if (taken.kind == FailureKind::ReplyTooLarge || taken.kind == FailureKind::OutOfMemory) {
        failure = taken;
      }
    }
  }
  if (secret && !failure) {
    record(Direction::ToCli, "****");
    record(Direction::ToCli, lineEndOf(line));
  }
  return failure;
}

bool ZUBAdaptor::send(const std::string& command, CLIResponse& response) {
  if (!dialect::isOneLine(command)) {
    if (impl_) impl_->fail(failureOf(FailureKind::Refused));
    log(__LINE__, __func__,
        "Can't send command: it holds a line break or NUL: " + zubdm::internal::quoted(command));
    return false;
  }
  if (!impl_ || impl_->forked()) {
    if (impl_) impl_->fail(failureOf(FailureKind::NotConnected));
    log(__LINE__, __func__,
        impl_ ? "Can't send command: this process did not create the mediator"
              : "Can't send command");
    return false;
  }
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  return impl_->exchange(command, response);
}

bool ZUBAdaptor::Impl::exchange(const std::string& command, CLIResponse& response) {
  FailureRecord withheld = failureOf(FailureKind::NotConnected);
  if (state == LinkState::Refusing) {
    // Nothing the CLI sends can be framed as this line's reply.
    withheld = failureOf(FailureKind::NotSent);
    withheld.cause = refusedBy.kind;
    withheld.text = describeFailure(refusedBy);
  }
  if (state != LinkState::LoggedIn || !prepareForCommand()) {
    if (state != LinkState::LoggedIn) fail(withheld);
    log(__LINE__, "send", "Can't send command");
    return false;
  }
  if (!writeCommand(command)) return false;
  if (readReply(response, command)) return true;
  log(__LINE__, "send", "error while parsing response");
  return false;
}

bool ZUBAdaptor::Impl::prepareForCommand() {
  if (resyncing) {
    // After a reply out of step, whatever the CLI still writes goes first.
    const std::chrono::milliseconds bound = replyTimeout;
    const FailureRecord failure = reader.drainUntilQuiet(kQuiet, Clock::now() + bound);
    if (failure) return refuse(at(failure, FailureStep::Read, bound));
  }
  if (reader.owesReply()) {
    // The rest of a reply that timed out must not pass for this one's.
    const std::chrono::milliseconds bound = replyTimeout;
    const FailureRecord failure = reader.dropOwedReply(Clock::now() + bound);
    if (failure.kind == FailureKind::CliGone) return fail(at(failure, FailureStep::Read, bound));
    if (failure) {
      FailureRecord withheld = at(failureOf(FailureKind::NotSent), FailureStep::Read, bound);
      withheld.cause = failure.kind;
      withheld.limit = failure.kind == FailureKind::TimedOut ? bound.count() : failure.limit;
      return fail(withheld);
    }
  }
  // Nor may anything that came after the last prompt.
  const size_t dropped = reader.dropLeftover();
  if (dropped > 0) {
    log(__LINE__, "send",
        "dropped " + std::to_string(dropped) + " bytes that the CLI sent after its prompt");
  }
  return true;
}

bool ZUBAdaptor::Impl::writeCommand(const std::string& command) {
  // The text and its line end in one write: the CLI sees the same bytes as
  // from two, and the command costs one system call less.
  std::string line;
  line.reserve(command.size() + dialect::kLineEnd.size());
  line.append(command).append(dialect::kLineEnd);
  const std::chrono::milliseconds bound = replyTimeout;
  size_t written = 0;
  const FailureRecord failure = at(writeLine(line, Clock::now() + bound, false, written),
                                   FailureStep::Write, bound);
  if (!failure) return true;
  log(__LINE__, "send", written < command.size() ? "Can't send command" : "Can't write to pipe");
  // A line written in part would run together with the next one, and a CLI
  // that flooded us meanwhile is a runaway one.
  const bool runaway =
      failure.kind == FailureKind::ReplyTooLarge || failure.kind == FailureKind::OutOfMemory;
  return written > 0 || runaway ? refuse(failure) : fail(failure);
}

bool ZUBAdaptor::parseResult(CLIResponse& response) {
  if (!impl_ || !impl_->usable()) return false;
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  return impl_->readReply(response, std::string());
}

size_t ZUBAdaptor::Impl::outputStart(std::string_view reply, const std::string& line) {
  const size_t echoed = dialect::echoLength(reply, line);
  if (echo == Echo::Unknown && line == dialect::kRootCommand) {
    echo = echoed != std::string_view::npos ? Echo::Yes : Echo::No;
  }
  if (echo != Echo::Yes || line.empty()) return 0;
  return echoed;
}

bool ZUBAdaptor::Impl::readReply(CLIResponse& response, const std::string& line) {
  const std::chrono::milliseconds bound = replyTimeout;
  parsed = nullptr;
  tap.start(echo == Echo::Yes && !line.empty());
  FailureRecord failure = at(reader.readReply(Clock::now() + bound), FailureStep::Read, bound);
  if (!failure) return storeReply(response, line);
  tap.abandon();
  if (failure.kind == FailureKind::ReplyTooLarge || failure.kind == FailureKind::OutOfMemory) {
    // A runaway CLI: no prompt to resynchronise on can be trusted.
    log(__LINE__, "parseResult",
        failure.kind == FailureKind::ReplyTooLarge
            ? "CLI response length exceeds the string object's maximum length"
            : "CLI response could not be held in memory");
    return refuse(failure);
  }
  // The rest of a reply that timed out is discarded before the next command.
  if (failure.kind == FailureKind::TimedOut || failure.kind == FailureKind::Cancelled) {
    response.setTimeout();
  }
  log(__LINE__, "findTagEnd", "read from fifo failed!");
  log(__LINE__, "parseResult", "Error reading CLI output");
  // A CLI that redrew its prompt with typed text after it holds that text:
  // anything written now would run on from it.
  return reader.typedAhead() ? refuse(failure) : fail(failure);
}

bool ZUBAdaptor::Impl::storeReply(CLIResponse& response, const std::string& line) {
  const size_t prompt = reader.promptStart();
  // Enough of the reply's start for its echo, or for saying what came instead.
  const std::string head = reader.replyText(0, std::max(line.size() + 2, kQuotedBytes));
  const size_t output = outputStart(head, line);
  FailureRecord failure;
  if (output == std::string_view::npos) {
    // Not this line's reply: an earlier one's rest, or output of the CLI's
    // own. The stream is brought back in step before the next line; a
    // second time means it cannot be.
    failure = failureAt(FailureKind::OutOfStep, FailureStep::Read);
    failure.text = "the reply to " + zubdm::internal::quoted(line) + " began with " +
                   zubdm::internal::quoted(head.substr(0, std::min(head.find('\n'), kQuotedBytes))) +
                   ", not with its echo";
    reader.releaseReply();
    log(__LINE__, "parseResult", failure.text);
    // Echoed only in part, the line was taken for editing keys (a "?" for
    // help, a tab): what the CLI holds or ran of it is not known.
    if (resyncing || dialect::echoedInPart(head, line)) return refuse(failure);
    resyncing = true;
    return fail(failure);
  }
  try {
    std::string text;
    const std::string context = reader.replyText(prompt, reader.replySize());
    reader.takeReply(output, text);
    const size_t document =
        zubdm::internal::ReplyClassifier::store(std::move(text), context, rules, response);
    parsed = document == std::string::npos ? nullptr : tap.documentAt(std::min(output, prompt) + document);
  } catch (const std::bad_alloc&) {
    // The reply was read whole: only this command fails.
    failure.kind = FailureKind::OutOfMemory;
  }
  if (parsed == nullptr) tap.abandon();
  reader.releaseReply();
  if (failure) {
    log(__LINE__, "parseResult", "CLI response could not be held in memory");
    return fail(failure);
  }
  // In step again after a reply out of step: the root reset came back as
  // its own echo and the root prompt, or the stream cannot be trusted.
  if (resyncing && line == dialect::kRootCommand && response.getRspContext() != dialect::kRootPrompt) {
    return refuse(failureAt(FailureKind::OutOfStep, FailureStep::Read));
  }
  resyncing = resyncing && line.empty();
  return !fail(FailureRecord());
}

zubdm::internal::ShowParser* ZUBAdaptor::parsedDocument() {
  return impl_ ? std::exchange(impl_->parsed, nullptr) : nullptr;
}

bool ZUBAdaptor::findTagEnd(std::string& reply, bool& full, const char* tag) {
  full = false;
  FailureRecord failure = failureOf(FailureKind::NotConnected);
  if (impl_ && impl_->usable() && tag != nullptr && *tag != '\0') {
    std::lock_guard<std::recursive_mutex> guard(impl_->operation);
    failure = impl_->reader.readThrough(tag, reply, Clock::now() + impl_->replyTimeout.load());
  }
  full = failure.kind == FailureKind::ReplyTooLarge;
  if (failure && !full) log(__LINE__, __func__, "read from fifo failed!");
  return !failure || full;
}

std::string ZUBAdaptor::checkError(const std::string& text) {
  return impl_ ? ReplyClassifier::checkError(text, impl_->rules)
               : ReplyClassifier::checkError(text, zubdm::internal::CliDialect());
}

bool ZUBAdaptor::setDeviceRootContext(CLIResponse& response) {
  // A reset that was not answered in step (or not sent) is no reset, even
  // though no error text came.
  const bool answered = send(dialect::kRootCommand, response);
  if (response.isTimeout()) {
    log(__LINE__, __func__,
        std::string("Timeout for waiting cli response after sending CLI: ") +
            dialect::kRootCommand + " to device WQT");
    return false;
  }
  return answered && response.getError().empty();
}

void ZUBAdaptor::cancel() noexcept {
  if (impl_) impl_->waiter.cancel();
}

void ZUBAdaptor::setTranscriptSink(TranscriptSink sink) {
  if (!impl_) return;
  impl_->transcript = std::move(sink);
  if (!impl_->transcript) {
    impl_->source.setObserver(nullptr);
    return;
  }
  Impl* impl = impl_.get();
  impl_->source.setObserver([impl](std::string_view bytes) { impl->record(Direction::FromCli, bytes); });
}

bool ZUBAdaptor::setErrorPrefixes(const std::vector<std::string>& prefixes) {
  if (!impl_) return false;
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  return impl_->rules.setErrorPrefixes(prefixes);
}

void ZUBAdaptor::setMaxReplySize(size_t bytes) {
  if (impl_) impl_->reader.setMaxReplySize(bytes);
}

size_t ZUBAdaptor::getMaxReplySize() const {
  return impl_ ? impl_->reader.maxReplySize() : MAX_REPLY_SIZE;
}

FailureKind ZUBAdaptor::getLastFailure() const {
  return impl_ ? impl_->lastKind.load() : FailureKind::NotConnected;
}

FailureRecord ZUBAdaptor::getFailureRecord() const {
  if (!impl_) return failureOf(FailureKind::OutOfMemory);
  std::lock_guard<std::mutex> guard(impl_->recordLock);
  return impl_->last;
}

void ZUBAdaptor::setConnectTimeout(std::chrono::milliseconds timeout) {
  if (impl_) impl_->connectTimeout = std::clamp(timeout, kNoWait, kLongestWait);
}

void ZUBAdaptor::setReplyTimeout(std::chrono::milliseconds timeout) {
  if (impl_) impl_->replyTimeout = std::clamp(timeout, kNoWait, kLongestWait);
}

std::chrono::milliseconds ZUBAdaptor::getConnectTimeout() const {
  return impl_ ? impl_->connectTimeout.load() : DEFAULT_CONNECT_TIMEOUT;
}

std::chrono::milliseconds ZUBAdaptor::getReplyTimeout() const {
  return impl_ ? impl_->replyTimeout.load() : DEFAULT_REPLY_TIMEOUT;
}

int swmSpawnCli(int index) { return CliChild::spawn(machineNames().cliProgram, index); }

bool swmKillCli(int pid) {
  // kill() with 0 or a negative id would signal whole process groups.
  if (pid <= 0 || kill(pid, SIGTERM) != 0) {
    const int error = pid <= 0 ? ESRCH : errno;
    log(__LINE__, __func__,
        "swmKillCli: " + std::string(strerror(error)) + ", " + std::to_string(error));
    return false;
  }
  return true;
}

}  // namespace ZUB_DEVICE_MEDIATION
