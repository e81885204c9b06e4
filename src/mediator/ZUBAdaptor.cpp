#include "mediator/ZUBAdaptor.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "common/CliLogHelper.h"
#include "common/LineText.h"
#include "mediator/CliChild.h"
#include "mediator/ForkMarker.h"
#include "mediator/MachineNames.h"
#include "mediator/PipeSource.h"
#include "mediator/ReplyClassifier.h"
#include "mediator/ReplyReader.h"
#include "mediator/Waiter.h"

namespace ZUB_DEVICE_MEDIATION {

using zubdm::internal::ByteSource;
using zubdm::internal::CliChild;
using zubdm::internal::Clock;
using zubdm::internal::ReplyClassifier;
using zubdm::internal::ReplyReader;
using zubdm::internal::Waiter;

// The atomic fields keep the layout that plain ones would have.
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
const char kUser[] = "root\r\n";
const char kPassword[] = "tquvz\r\n";
const char kLineEnd[] = "\n\r";
const char kRootCommand[] = "end";
// How long a CLI gets to end after SIGTERM before it is killed.
const int kTerminateGraceMs = 300;
// Bounds of the time-outs a host sets: a deadline further away would run
// past the clock's range and pass at once.
const std::chrono::milliseconds kNoWait{0};
const std::chrono::milliseconds kLongestWait = std::chrono::hours(24 * 365);
// Longest pause between attempts to open the write pipe, which cannot be
// polled: the open fails with ENXIO until the CLI has opened its end.
const std::chrono::milliseconds kMaxOpenPause{20};

void log(int line, const char* function, const std::string& text) {
  CliLogHelper(3, kLogFile, function, line).message(text);
}

// The extra line that says why a step of the connection failed.
void logCause(int line, const char* function, const std::string& text) {
  log(line, function, "cause: " + text);
}

FailureKind failureOf(Waiter::Event event) {
  switch (event) {
    case Waiter::Event::TimedOut:
      return FailureKind::TimedOut;
    case Waiter::Event::Cancelled:
      return FailureKind::Cancelled;
    default:
      return FailureKind::CliGone;
  }
}

FailureKind failureOf(ReplyReader::Outcome outcome) {
  switch (outcome) {
    case ReplyReader::Outcome::Complete:
      return FailureKind::None;
    case ReplyReader::Outcome::TimedOut:
      return FailureKind::TimedOut;
    case ReplyReader::Outcome::Cancelled:
      return FailureKind::Cancelled;
    case ReplyReader::Outcome::TooLarge:
      return FailureKind::ReplyTooLarge;
    case ReplyReader::Outcome::OutOfMemory:
      return FailureKind::OutOfMemory;
    default:
      return FailureKind::CliGone;
  }
}

// The line end that a login line carries, shown after a masked secret.
std::string_view lineEndOf(std::string_view text) {
  const size_t end = text.find_last_not_of("\r\n");
  return text.substr(end == std::string_view::npos ? 0 : end + 1);
}

// Why a pipe path was refused or could not be made: the system's reason,
// or, for a path that someone else put there, what it is.
std::string pipeProblem(const char* path, int error) {
  struct stat status;
  if (error != EPERM || lstat(path, &status) != 0) {
    return std::string(path) + ": " + strerror(error);
  }
  const char* type = S_ISFIFO(status.st_mode)  ? "a pipe"
                     : S_ISLNK(status.st_mode) ? "a symbolic link"
                     : S_ISREG(status.st_mode) ? "a file"
                                               : "not a pipe";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
  return std::string(path) + " is " + type + " owned by uid " +
         std::to_string(status.st_uid) + " with mode " + mode +
         ", not a pipe of this user closed to others; it is left alone "
         "(removing it frees the slot)";
}

bool createPipe(QorFIFO& fifo, const std::string& name, const char* which) {
  if (fifo.create(name.c_str(), kPipeMode) == 0) return true;
  const int error = errno;
  log(__LINE__, "connect", std::string("Can't create ") + which + " FIFO:" + name);
  logCause(__LINE__, "connect", pipeProblem(name.c_str(), error));
  return false;
}

}  // namespace

struct ZUBAdaptor::Impl {
  explicit Impl(const zubdm::internal::MachineNames& machine)
      : names(machine), source(waiter, child), reader(source) {}

  // Not the process that built the mediator: a forked copy of the host.
  bool foreign() const { return forkMarker.inCopy(); }

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

  // How the wait for `what` ended, as a cause line.
  std::string waitProblem(ReplyReader::Outcome outcome, const std::string& what,
                          std::chrono::milliseconds bound) {
    switch (outcome) {
      case ReplyReader::Outcome::TimedOut:
        return "waited " + std::to_string(bound.count()) + " ms for " + what;
      case ReplyReader::Outcome::Cancelled:
        return "cancelled while waiting for " + what;
      case ReplyReader::Outcome::Closed:
        return child.reapIfExited()
                   ? "the CLI " + child.exitDescription() + " while " + what +
                         " was waited for"
                   : "the CLI closed its output while " + what + " was waited for";
      default:
        return "no " + what + " could be read";
    }
  }

  zubdm::internal::MachineNames names;
  const zubdm::internal::ForkMarker forkMarker;
  // Serialises connect, disconnect, restart and the exchanges of a command;
  // recursive because those call one another.
  std::recursive_mutex operation;
  CliChild child;
  Waiter waiter;
  zubdm::internal::PipeSource source;
  ReplyReader reader;
  // Atomic where a host may read or set them while a command runs.
  std::atomic<std::chrono::milliseconds> connectTimeout{DEFAULT_CONNECT_TIMEOUT};
  std::atomic<std::chrono::milliseconds> replyTimeout{DEFAULT_REPLY_TIMEOUT};
  // A command line went out only in part: the CLI would read the next one
  // as its continuation.
  std::atomic<bool> lineBroken{false};
  TranscriptSink transcript;
  std::atomic<FailureKind> lastFailure{FailureKind::None};
  // Why the mediator refuses commands until it is reconnected.
  FailureKind brokenBy = FailureKind::None;
  // The host's extra error-line prefixes; not yet read by the classifier.
  std::vector<std::string> errorPrefixes;
};

ZUBAdaptor::ZUBAdaptor()
    : impl_(new (std::nothrow) Impl(zubdm::internal::machineNames())),
      connected(false),
      loggedIn(false),
      cliUsers(impl_ ? impl_->names.userTable.c_str() : nullptr, kTableSize),
      cliPid(-1),
      cliIndex(-1) {
  cliIndex = swmGetFreeCliUserIndex(cliUsers);
  if (cliIndex == -1) {
    log(__LINE__, __func__, "No free cli index");
    logCause(__LINE__, __func__, cliUsers.failureCause());
  }
}

ZUBAdaptor::~ZUBAdaptor() {
  if (impl_ && impl_->foreign()) {
    leaveToOwner();
    return;
  }
  if (cliPid != -1) impl_->child.terminate(kTerminateGraceMs);
  // The pipe files go before the slot: the next holder of the slot would
  // take them for its own, and lose them as they are removed.
  removePipes();
  cliUsers.initEntry(cliIndex);
}

void ZUBAdaptor::leaveToOwner() {
  // Only this process's copies of the descriptors go; the CLI, its slot
  // and its pipe files stay with the process that made them.
  impl_->child.abandon();
  fifoRecv.abandon();
  fifoSend.abandon();
  impl_->source.setDescriptor(-1);
  connected = false;
  loggedIn = false;
  cliPid = -1;
  cliIndex = -1;
}

bool ZUBAdaptor::connect() {
  if (!impl_) return false;
  if (cliIndex == -1) {
    impl_->lastFailure = FailureKind::NotConnected;
    log(__LINE__, __func__, "Can't connect: no CLI user slot was reserved");
    logCause(__LINE__, __func__, cliUsers.failureCause());
    return false;
  }
  if (impl_->foreign()) {
    log(__LINE__, __func__, "Can't connect: this process did not create the mediator");
    return false;
  }
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  // After a failed login only restart() starts over.
  if (isConnected()) return isLoggedIn();
  impl_->lastFailure = FailureKind::CliGone;
  if (!createPipes() || !spawnCli() || !openPipes()) return false;
  connected = true;
  if (login(kUser, kPassword) == -1) {
    log(__LINE__, __func__, "Can't login");
    return false;
  }
  impl_->lastFailure = FailureKind::None;
  return true;
}

bool ZUBAdaptor::createPipes() {
  const std::string stem = impl_->names.pipeDirectory + "clPipe";
  const std::string slot = std::to_string(cliIndex);
  return createPipe(fifoSend, stem + "W" + slot, "write") &&
         createPipe(fifoRecv, stem + "R" + slot, "read");
}

bool ZUBAdaptor::spawnCli() {
  const std::string& program = impl_->names.cliProgram;
  cliPid = CliChild::spawn(program, cliIndex);
  if (cliPid == -1) {
    const int error = errno;
    log(__LINE__, "connect", "Can't create CLI process");
    logCause(__LINE__, "connect",
             program + (program.find('/') == std::string::npos ? " (along PATH)" : "") +
                 ": " + strerror(error));
    return false;
  }
  // A CLI left running by an earlier failed connect is ended, not orphaned.
  impl_->child.adopt(cliPid);
  cliUsers.setPid(cliIndex, cliPid);
  return true;
}

bool ZUBAdaptor::openPipes() {
  std::string problem;
  if (!openWritePipe(problem)) {
    log(__LINE__, "connect", "Cant open FIFO");
    logCause(__LINE__, "connect", problem);
    return false;
  }
  // Non-blocking, the open returns at once, and every read after a poll.
  if (fifoRecv.open(nullptr, O_RDONLY | O_NONBLOCK, kPipeMode) == -1 ||
      fifoRecv.enable(O_NONBLOCK) == -1) {
    const int error = errno;
    log(__LINE__, "connect", "Can't open fifo");
    logCause(__LINE__, "connect", pipeProblem(fifoRecv.name(), error));
    return false;
  }
  impl_->source.setDescriptor(fifoRecv.get_handle());
  impl_->reader.reset();
  impl_->lineBroken = false;
  impl_->brokenBy = FailureKind::None;
  return true;
}

bool ZUBAdaptor::openWritePipe(std::string& problem) {
  const auto deadline = Clock::now() + impl_->connectTimeout.load();
  std::chrono::milliseconds pause{1};
  for (;;) {
    // Stays non-blocking: every write waits in the same bounded poll.
    if (fifoSend.open(nullptr, O_WRONLY | O_NONBLOCK, kPipeMode) == 0) {
      // Once the CLI reads it, the pipe is held open for reading here too:
      // a write to a CLI that has gone then never raises SIGPIPE (its exit
      // is seen by the wait), so commands change no signal mask.
      if (fifoSend.QorFIFO::open(nullptr, O_RDWR | O_NONBLOCK, kPipeMode) == 0) return true;
      problem = pipeProblem(fifoSend.name(), errno);
      return false;
    }
    // ENXIO: the CLI has not opened its reading end yet.
    if (errno != ENXIO) {
      problem = pipeProblem(fifoSend.name(), errno);
      return false;
    }
    if (impl_->child.exited()) {
      impl_->child.reapIfExited();
      problem = "the CLI " + impl_->child.exitDescription() + " before opening " +
                fifoSend.name();
      return false;
    }
    const auto until = std::min(deadline, Clock::now() + pause);
    // Ends early when the CLI exits instead, or on cancel().
    const Waiter::Event event =
        impl_->waiter.wait(-1, -1, impl_->child.exitFd(), until).event;
    if (event == Waiter::Event::Cancelled) {
      impl_->lastFailure = FailureKind::Cancelled;
      problem = "cancelled while waiting for the CLI to open its pipe";
      return false;
    }
    if (event == Waiter::Event::TimedOut && Clock::now() >= deadline) {
      impl_->lastFailure = FailureKind::TimedOut;
      problem = "the CLI did not open " + std::string(fifoSend.name()) + " within " +
                std::to_string(impl_->connectTimeout.load().count()) + " ms";
      return false;
    }
    pause = std::min(pause * 2, kMaxOpenPause);
  }
}

int ZUBAdaptor::login(const char* user, const char* password) {
  if (loggedIn) return 0;
  if (!ownConnection() || user == nullptr || password == nullptr) {
    log(__LINE__, "login", " nmsCliLogin: failed!");
    return -1;
  }
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  const std::chrono::milliseconds bound = impl_->connectTimeout;
  std::string text;
  bool ok = swmExpect(text, "Login:", "") == 0 &&
            writeLine(user, Clock::now() + bound, false) == std::strlen(user);
  ok = ok && swmExpect(text, "Password:", "") == 0 &&
       writeLine(password, Clock::now() + bound, true) == std::strlen(password);
  ok = ok && waitForFirstPrompt();
  if (!ok) {
    log(__LINE__, "login", " nmsCliLogin: failed!");
    return -1;
  }
  loggedIn = true;
  return 0;
}

bool ZUBAdaptor::waitForFirstPrompt() {
  // The same prompt rule as every reply's: a prompt-like text in a banner
  // does not end the login early.
  ReplyReader& reader = impl_->reader;
  const ReplyReader::Outcome outcome =
      reader.readReply(Clock::now() + impl_->connectTimeout.load());
  reader.releaseReply();
  if (outcome == ReplyReader::Outcome::Complete) return true;
  impl_->lastFailure = failureOf(outcome);
  log(__LINE__, "swmExpect", "read from fifo failed!");
  // What the CLI wrote instead ("Login incorrect ... Login:") says why.
  const std::string_view instead = reader.unframedTail();
  std::string cause = impl_->waitProblem(outcome, "the prompt", impl_->connectTimeout);
  if (!instead.empty()) cause += "; the CLI's last output: " + zubdm::internal::quoted(instead);
  logCause(__LINE__, "login", cause);
  return false;
}

int ZUBAdaptor::swmExpect(std::string& text, const char* first,
                          const char* second) {
  if (first == nullptr || *first == '\0') {
    log(__LINE__, __func__, "swmExpect: no text to wait for");
    return -1;
  }
  ReplyReader::Outcome outcome = ReplyReader::Outcome::Failed;
  std::string waited = std::string("\"") + first + "\"";
  if (ownConnection()) {
    std::lock_guard<std::recursive_mutex> guard(impl_->operation);
    const auto deadline = Clock::now() + impl_->connectTimeout.load();
    outcome = impl_->reader.skipPast(first, deadline);
    if (outcome == ReplyReader::Outcome::Complete) {
      text.append(first);
      if (second == nullptr || *second == '\0') return 0;
      waited = std::string("\"") + second + "\"";
      outcome = impl_->reader.readThrough(second, text, deadline);
    }
    if (outcome != ReplyReader::Outcome::Complete) {
      impl_->lastFailure = failureOf(outcome);
    }
  }
  if (outcome != ReplyReader::Outcome::Complete) {
    log(__LINE__, __func__, "read from fifo failed!");
    if (impl_) {
      logCause(__LINE__, __func__,
               impl_->waitProblem(outcome, waited, impl_->connectTimeout));
    }
    return -1;
  }
  return 0;
}

bool ZUBAdaptor::disconnect() {
  if (!impl_) return true;
  if (impl_->foreign()) {
    leaveToOwner();
    return true;
  }
  // A command running on another thread ends first, as cancelled.
  impl_->waiter.cancel();
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  impl_->waiter.forgetCancel();
  if (cliPid != -1 && !endCli()) {
    log(__LINE__, __func__, "Can't disconnect cli mediator");
    return false;
  }
  removePipes();
  connected = false;
  loggedIn = false;
  cliPid = -1;
  impl_->source.setDescriptor(-1);
  impl_->reader.reset();
  return true;
}

void ZUBAdaptor::removePipes() {
  fifoRecv.remove();
  fifoSend.remove();
}

bool ZUBAdaptor::endCli() {
  const int error = impl_->child.terminate(kTerminateGraceMs);
  if (error != 0) {
    log(__LINE__, "swmKillCli",
        "swmKillCli: " + std::string(strerror(error)) + ", " + std::to_string(error));
    return false;
  }
  return true;
}

bool ZUBAdaptor::restart() {
  bool ok = false;
  if (impl_ && impl_->foreign()) {
    leaveToOwner();
  } else if (impl_) {
    // A command running on another thread ends first, as cancelled.
    impl_->waiter.cancel();
    std::lock_guard<std::recursive_mutex> guard(impl_->operation);
    ok = disconnect() && connect();
  }
  if (!ok) {
    log(__LINE__, __func__, "Can't restart cli mediator");
  }
  return ok;
}

ZUBAdaptor::CommandLock::CommandLock(ZUBAdaptor& adaptor)
    // In a forked copy of the host the lock may be held by a thread that
    // exists only in the parent: it is not taken, and every line is refused.
    : adaptor_(adaptor), locked_(adaptor.impl_ && !adaptor.impl_->foreign()) {
  if (locked_) adaptor_.impl_->operation.lock();
}

ZUBAdaptor::CommandLock::~CommandLock() {
  if (locked_) adaptor_.impl_->operation.unlock();
}

bool ZUBAdaptor::owesReply() const { return impl_ && impl_->reader.owesReply(); }

bool ZUBAdaptor::ownConnection() const {
  // In a forked copy the lock may be held by a thread of the parent.
  return impl_ && connected && !impl_->foreign();
}

bool ZUBAdaptor::isReadyForCommand() const {
  return impl_ && !impl_->reader.broken() && !impl_->lineBroken;
}

size_t ZUBAdaptor::writeLine(std::string_view line, Clock::time_point deadline,
                             bool secret) {
  if (!impl_) return 0;
  const int sendFd = fifoSend.get_handle();
  int recvFd = fifoRecv.get_handle();
  size_t done = 0;
  while (done < line.size()) {
    ssize_t written;
    do {
      written = ::write(sendFd, line.data() + done, line.size() - done);
    } while (written < 0 && errno == EINTR);
    if (written > 0) {
      if (!secret) impl_->record(Direction::ToCli, line.substr(done, written));
      done += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN) {
      impl_->lastFailure = FailureKind::CliGone;
      impl_->child.reapIfExited();
      break;
    }
    // The pipe is full: wait for room, and meanwhile take in what the CLI
    // writes, so that a CLI echoing a long line never blocks on us.
    const Waiter::Result ready =
        impl_->waiter.wait(recvFd, sendFd, impl_->child.exitFd(), deadline);
    if (ready.event != Waiter::Event::Ready) {
      impl_->lastFailure = failureOf(ready.event);
      if (ready.event == Waiter::Event::CliExited) impl_->child.reapIfExited();
      break;
    }
    if (ready.readable && impl_->reader.absorb() != ByteSource::Status::Empty) {
      recvFd = -1;  // closed or failed: would be readable for ever
    }
  }
  if (secret && done == line.size()) {
    impl_->record(Direction::ToCli, "****");
    impl_->record(Direction::ToCli, lineEndOf(line));
  }
  // A line written in part would run together with the next one.
  if (done > 0 && done < line.size()) {
    impl_->lineBroken = true;
    if (impl_->brokenBy == FailureKind::None) impl_->brokenBy = impl_->lastFailure;
  }
  return done;
}

bool ZUBAdaptor::writeCommand(const std::string& command) {
  // The text and its line end in one write: the CLI sees the same bytes as
  // from two, and the command costs one system call less.
  std::string line;
  line.reserve(command.size() + 2);
  line.append(command).append(kLineEnd);
  const size_t written = writeLine(line, Clock::now() + impl_->replyTimeout.load(), false);
  if (written == line.size()) return true;
  log(__LINE__, "send",
      written < command.size() ? "Can't send command" : "Can't write to pipe");
  return false;
}

bool ZUBAdaptor::prepareForCommand() {
  ReplyReader& reader = impl_->reader;
  if (reader.owesReply()) {
    // The rest of a reply that timed out must not pass for this one's.
    const ReplyReader::Outcome dropped =
        reader.dropOwedReply(Clock::now() + impl_->replyTimeout.load());
    if (dropped != ReplyReader::Outcome::Complete) {
      impl_->lastFailure = failureOf(dropped);
      return false;
    }
  }
  // Nor may anything that came after the last prompt.
  const size_t dropped = reader.dropLeftover();
  if (dropped > 0) {
    log(__LINE__, "send",
        "dropped " + std::to_string(dropped) +
            " bytes that the CLI sent after its prompt");
  }
  return true;
}

bool ZUBAdaptor::send(const std::string& command, CLIResponse& response) {
  if (!zubdm::internal::isOneLine(command)) {
    if (impl_) impl_->lastFailure = FailureKind::Refused;
    log(__LINE__, __func__,
        "Can't send command: it holds a line break or NUL: " +
            zubdm::internal::quoted(command));
    return false;
  }
  if (!impl_ || impl_->foreign()) {
    if (impl_) impl_->lastFailure = FailureKind::NotConnected;
    log(__LINE__, __func__,
        impl_ ? "Can't send command: this process did not create the mediator"
              : "Can't send command");
    return false;
  }
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  impl_->lastFailure = FailureKind::None;
  if (!loggedIn || !isReadyForCommand()) {
    impl_->lastFailure = !loggedIn ? FailureKind::NotConnected : impl_->brokenBy;
    log(__LINE__, __func__, "Can't send command");
    return false;
  }
  if (!prepareForCommand()) {
    log(__LINE__, __func__, "Can't send command");
    return false;
  }
  if (!writeCommand(command)) return false;
  if (!parseResult(response)) {
    log(__LINE__, __func__, "error while parsing response");
    return false;
  }
  return true;
}

bool ZUBAdaptor::findTagEnd(std::string& reply, bool& full, const char* tag) {
  full = false;
  ReplyReader::Outcome outcome = ReplyReader::Outcome::Failed;
  if (ownConnection() && tag != nullptr && *tag != '\0') {
    std::lock_guard<std::recursive_mutex> guard(impl_->operation);
    outcome = impl_->reader.readThrough(tag, reply, Clock::now() + impl_->replyTimeout.load());
  }
  if (outcome == ReplyReader::Outcome::TooLarge) {
    full = true;
    return true;
  }
  if (outcome != ReplyReader::Outcome::Complete) {
    log(__LINE__, __func__, "read from fifo failed!");
    return false;
  }
  return true;
}

bool ZUBAdaptor::parseResult(CLIResponse& response) {
  if (!ownConnection()) return false;
  std::lock_guard<std::recursive_mutex> guard(impl_->operation);
  ReplyReader& reader = impl_->reader;
  const ReplyReader::Outcome outcome =
      reader.readReply(Clock::now() + impl_->replyTimeout.load());
  impl_->lastFailure = failureOf(outcome);
  switch (outcome) {
    case ReplyReader::Outcome::Complete:
      return storeReply(response);
    case ReplyReader::Outcome::TooLarge:
    case ReplyReader::Outcome::OutOfMemory:
      // A runaway CLI: no prompt to resynchronise on can be trusted.
      if (impl_->brokenBy == FailureKind::None) impl_->brokenBy = impl_->lastFailure;
      log(__LINE__, __func__,
          outcome == ReplyReader::Outcome::TooLarge
              ? "CLI response length exceeds the string object's maximum length"
              : "CLI response could not be held in memory");
      return false;
    case ReplyReader::Outcome::TimedOut:
    case ReplyReader::Outcome::Cancelled:
      // The rest of this reply is discarded before the next command.
      response.setTimeout();
      break;
    default:
      break;
  }
  log(__LINE__, "findTagEnd", "read from fifo failed!");
  log(__LINE__, __func__, "Error reading CLI output");
  return false;
}

bool ZUBAdaptor::storeReply(CLIResponse& response) {
  ReplyReader& reader = impl_->reader;
  try {
    ReplyClassifier::store(reader.reply(), reader.promptStart(), response);
  } catch (const std::bad_alloc&) {
    // The reply was read whole: only this command fails.
    reader.releaseReply();
    impl_->lastFailure = FailureKind::OutOfMemory;
    log(__LINE__, "parseResult", "CLI response could not be held in memory");
    return false;
  }
  reader.releaseReply();
  return true;
}

std::string ZUBAdaptor::checkError(const std::string& text) {
  return ReplyClassifier::checkError(text);
}

bool ZUBAdaptor::setDeviceRootContext(CLIResponse& response) {
  send(kRootCommand, response);
  if (response.isTimeout()) {
    CliLogHelper(3, kLogFile, __func__, __LINE__)
        .message(std::string("Timeout for waiting cli response after sending CLI: ") +
                 kRootCommand + " to device WQT");
    return false;
  }
  return response.getError().empty();
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
  impl_->source.setObserver(
      [impl](std::string_view bytes) { impl->record(Direction::FromCli, bytes); });
}

void ZUBAdaptor::setMaxReplySize(size_t bytes) {
  if (impl_) impl_->reader.setMaxReplySize(bytes);
}

size_t ZUBAdaptor::getMaxReplySize() const {
  return impl_ ? impl_->reader.maxReplySize() : MAX_REPLY_SIZE;
}

bool ZUBAdaptor::setErrorPrefixes(const std::vector<std::string>& prefixes) {
  for (const std::string& prefix : prefixes) {
    if (prefix.empty() ||
        std::any_of(prefix.begin(), prefix.end(),
                    [](char byte) { return static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f; })) {
      log(__LINE__, __func__, "an error prefix is empty or holds a control byte");
      return false;
    }
  }
  if (!impl_) return false;
  impl_->errorPrefixes = prefixes;
  return true;
}

FailureKind ZUBAdaptor::getLastFailure() const {
  return impl_ ? impl_->lastFailure.load() : FailureKind::NotConnected;
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

int swmSpawnCli(int index) {
  return CliChild::spawn(zubdm::internal::machineNames().cliProgram, index);
}

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
