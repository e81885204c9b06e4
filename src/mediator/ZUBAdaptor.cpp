#include "mediator/ZUBAdaptor.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "common/CliLogHelper.h"
#include "fifo/SigpipeShield.h"
#include "mediator/CliChild.h"
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
const char kPromptStart[] = "HVB";
const char kPromptEnd[] = "#";
const char kRootCommand[] = "end";
// How long a CLI gets to end after SIGTERM before it is killed.
const int kTerminateGraceMs = 300;
// Longest pause between attempts to open the write pipe, which cannot be
// polled: the open fails with ENXIO until the CLI has opened its end.
const std::chrono::milliseconds kMaxOpenPause{20};

void log(int line, const char* function, const char* text) {
  CliLogHelper(3, kLogFile, function, line).message(std::string(text));
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

}  // namespace

struct ZUBAdaptor::Impl {
  explicit Impl(const zubdm::internal::MachineNames& machine)
      : names(machine), source(waiter, child), reader(source) {}

  zubdm::internal::MachineNames names;
  CliChild child;
  Waiter waiter;
  zubdm::internal::PipeSource source;
  ReplyReader reader;
  std::chrono::milliseconds connectTimeout{DEFAULT_CONNECT_TIMEOUT};
  std::chrono::milliseconds replyTimeout{DEFAULT_REPLY_TIMEOUT};
  // A command line went out only in part: the CLI would read the next one
  // as its continuation.
  bool lineBroken = false;
  TranscriptSink transcript;
  FailureKind lastFailure = FailureKind::None;
  // Why the mediator refuses commands until it is reconnected.
  FailureKind brokenBy = FailureKind::None;

  void record(Direction direction, std::string_view bytes) const {
    if (transcript && !bytes.empty()) transcript(direction, bytes);
  }
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
    CliLogHelper(3, kLogFile, __func__, __LINE__).message("No free cli index");
  }
}

ZUBAdaptor::~ZUBAdaptor() {
  if (cliPid != -1) impl_->child.terminate(kTerminateGraceMs);
  cliUsers.initEntry(cliIndex);
}

bool ZUBAdaptor::connect() {
  if (cliIndex == -1 || !impl_) return false;
  if (isConnected()) return true;
  if (!createPipes() || !spawnCli() || !openPipes()) return false;
  connected = true;
  if (login(kUser, kPassword) == -1) {
    CliLogHelper(3, kLogFile, __func__, __LINE__).message("Can't login");
    return false;
  }
  return true;
}

bool ZUBAdaptor::createPipes() {
  char name[30] = {};
  const char* directory = impl_->names.pipeDirectory.c_str();
  std::snprintf(name, sizeof name, "%sclPipeW%d", directory, cliIndex);
  if (fifoSend.create(name, kPipeMode) == -1) {
    CliLogHelper(3, kLogFile, "connect", __LINE__)
        .message("Can't create write FIFO:%s", name);
    return false;
  }
  std::snprintf(name, sizeof name, "%sclPipeR%d", directory, cliIndex);
  if (fifoRecv.create(name, kPipeMode) == -1) {
    CliLogHelper(3, kLogFile, "connect", __LINE__)
        .message("Can't create read FIFO:%s", name);
    return false;
  }
  return true;
}

bool ZUBAdaptor::spawnCli() {
  cliPid = CliChild::spawn(impl_->names.cliProgram, cliIndex);
  if (cliPid == -1) {
    log(__LINE__, "connect", "Can't create CLI process");
    return false;
  }
  // A CLI left running by an earlier failed connect is ended, not orphaned.
  impl_->child.adopt(cliPid);
  cliUsers.setPid(cliIndex, cliPid);
  return true;
}

bool ZUBAdaptor::openPipes() {
  if (!openWritePipe()) {
    log(__LINE__, "connect", "Cant open FIFO");
    return false;
  }
  // Non-blocking, the open returns at once, and every read after a poll.
  if (fifoRecv.open(nullptr, O_RDONLY | O_NONBLOCK, kPipeMode) == -1 ||
      fifoRecv.enable(O_NONBLOCK) == -1) {
    log(__LINE__, "connect", "Can't open fifo");
    return false;
  }
  impl_->source.setDescriptor(fifoRecv.get_handle());
  impl_->reader.reset();
  impl_->lineBroken = false;
  impl_->brokenBy = FailureKind::None;
  return true;
}

bool ZUBAdaptor::openWritePipe() {
  const auto deadline = Clock::now() + impl_->connectTimeout;
  std::chrono::milliseconds pause{1};
  for (;;) {
    // Stays non-blocking: every write waits in the same bounded poll.
    if (fifoSend.open(nullptr, O_WRONLY | O_NONBLOCK, kPipeMode) == 0) {
      return true;
    }
    // ENXIO: the CLI has not opened its reading end yet.
    if (errno != ENXIO || impl_->child.exited()) return false;
    const auto until = std::min(deadline, Clock::now() + pause);
    // Ends early when the CLI exits instead, or on cancel().
    const Waiter::Event event =
        impl_->waiter.wait(-1, -1, impl_->child.exitFd(), until).event;
    if (event != Waiter::Event::TimedOut || Clock::now() >= deadline) {
      return false;
    }
    pause = std::min(pause * 2, kMaxOpenPause);
  }
}

int ZUBAdaptor::login(const char* user, const char* password) {
  if (loggedIn) return 0;
  const auto bound = impl_ ? impl_->connectTimeout : DEFAULT_CONNECT_TIMEOUT;
  std::string text;
  bool ok = connected && swmExpect(text, "Login:", "") == 0 &&
            writeLine(user, "", Clock::now() + bound) == std::strlen(user);
  ok = ok && swmExpect(text, "Password:", "") == 0 &&
       writeLine(password, "", Clock::now() + bound, true) == std::strlen(password);
  ok = ok && swmExpect(text, kPromptStart, kPromptEnd) == 0;
  if (!ok) {
    CliLogHelper(3, kLogFile, "login", __LINE__).message(" nmsCliLogin: failed!");
    return -1;
  }
  loggedIn = true;
  return 0;
}

int ZUBAdaptor::swmExpect(std::string& text, const char* first,
                          const char* second) {
  ReplyReader::Outcome outcome = ReplyReader::Outcome::Failed;
  if (connected && impl_) {
    const auto deadline = Clock::now() + impl_->connectTimeout;
    outcome = impl_->reader.skipPast(first, deadline);
    if (outcome == ReplyReader::Outcome::Complete) {
      text.append(first);
      if (second == nullptr || *second == '\0') return 0;
      outcome = impl_->reader.readThrough(second, text, deadline);
    }
  }
  if (outcome != ReplyReader::Outcome::Complete) {
    CliLogHelper(3, kLogFile, __func__, __LINE__).message("read from fifo failed!");
    return -1;
  }
  return 0;
}

bool ZUBAdaptor::disconnect() {
  if (cliPid != -1 && !endCli()) {
    CliLogHelper(3, kLogFile, __func__, __LINE__)
        .message("Can't disconnect cli mediator");
    return false;
  }
  fifoRecv.remove();
  fifoSend.remove();
  connected = false;
  loggedIn = false;
  cliPid = -1;
  if (impl_) {
    impl_->source.setDescriptor(-1);
    impl_->reader.reset();
  }
  return true;
}

bool ZUBAdaptor::endCli() {
  const int error = impl_->child.terminate(kTerminateGraceMs);
  if (error != 0) {
    CliLogHelper(3, kLogFile, "swmKillCli", __LINE__)
        .message("swmKillCli: %s, %d", strerror(error), error);
    return false;
  }
  return true;
}

bool ZUBAdaptor::restart() {
  if (!disconnect() || !connect()) {
    CliLogHelper(3, kLogFile, __func__, __LINE__)
        .message("Can't restart cli mediator");
    return false;
  }
  return true;
}

bool ZUBAdaptor::isReadyForCommand() const {
  return impl_ && !impl_->reader.broken() && !impl_->lineBroken;
}

size_t ZUBAdaptor::writeLine(std::string_view text, std::string_view end,
                             Clock::time_point deadline, bool secret) {
  if (!impl_) return 0;
  const int sendFd = fifoSend.get_handle();
  int recvFd = fifoRecv.get_handle();
  zubdm::internal::SigpipeShield shield;
  const size_t length = text.size() + end.size();
  size_t done = 0;
  while (done < length) {
    // The text and its line end in one system call, as one would write
    // them in two: the CLI sees the same bytes.
    struct iovec parts[2];
    int count = 0;
    if (done < text.size()) {
      parts[count++] = {const_cast<char*>(text.data() + done), text.size() - done};
    }
    const size_t endDone = done > text.size() ? done - text.size() : 0;
    if (endDone < end.size()) {
      parts[count++] = {const_cast<char*>(end.data() + endDone), end.size() - endDone};
    }
    ssize_t written;
    do {
      written = ::writev(sendFd, parts, count);
    } while (written < 0 && errno == EINTR);
    if (written > 0) {
      if (!secret) recordWritten(text, end, done, static_cast<size_t>(written));
      done += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN) {
      zubdm::internal::SigpipeShield::noteWriteFailure(errno);
      impl_->lastFailure = FailureKind::CliGone;
      break;
    }
    // The pipe is full: wait for room, and meanwhile take in what the CLI
    // writes, so that a CLI echoing a long line never blocks on us.
    const Waiter::Result ready =
        impl_->waiter.wait(recvFd, sendFd, impl_->child.exitFd(), deadline);
    if (ready.event != Waiter::Event::Ready) {
      impl_->lastFailure = failureOf(ready.event);
      break;
    }
    if (ready.readable &&
        impl_->reader.absorb() != ByteSource::Status::Empty) {
      recvFd = -1;  // closed or failed: would be readable for ever
    }
  }
  if (secret && done == length) {
    impl_->record(Direction::ToCli, "****");
    impl_->record(Direction::ToCli, lineEndOf(text));
  }
  // A line written in part would run together with the next one.
  if (done > 0 && done < length) breakStream(impl_->lastFailure);
  return done;
}

void ZUBAdaptor::recordWritten(std::string_view text, std::string_view end,
                               size_t done, size_t count) const {
  if (done < text.size()) {
    const size_t fromText = std::min(count, text.size() - done);
    impl_->record(Direction::ToCli, text.substr(done, fromText));
    done += fromText;
    count -= fromText;
  }
  if (count > 0) impl_->record(Direction::ToCli, end.substr(done - text.size(), count));
}

void ZUBAdaptor::breakStream(FailureKind why) {
  impl_->lineBroken = true;
  if (impl_->brokenBy == FailureKind::None) impl_->brokenBy = why;
}

bool ZUBAdaptor::writeCommand(const std::string& command) {
  const size_t written = writeLine(command, kLineEnd,
                                   Clock::now() + impl_->replyTimeout);
  if (written == command.size() + 2) return true;
  log(__LINE__, "send",
      written < command.size() ? "Can't send command" : "Can't write to pipe");
  return false;
}

bool ZUBAdaptor::send(const std::string& command, CLIResponse& response) {
  if (impl_) impl_->lastFailure = FailureKind::None;
  bool ready = loggedIn && isReadyForCommand();
  if (ready && impl_->reader.owesReply()) {
    // The rest of a reply that timed out must not pass for this one's.
    const ReplyReader::Outcome dropped =
        impl_->reader.dropOwedReply(Clock::now() + impl_->replyTimeout);
    impl_->lastFailure = failureOf(dropped);
    ready = dropped == ReplyReader::Outcome::Complete;
  }
  if (!ready) {
    if (impl_ && impl_->lastFailure == FailureKind::None) {
      impl_->lastFailure = !loggedIn ? FailureKind::NotConnected : impl_->brokenBy;
    }
    CliLogHelper(3, kLogFile, __func__, __LINE__).message("Can't send command");
    return false;
  }
  if (!writeCommand(command)) return false;
  if (!parseResult(response)) {
    CliLogHelper(3, kLogFile, __func__, __LINE__)
        .message("error while parsing response");
    return false;
  }
  return true;
}

bool ZUBAdaptor::findTagEnd(std::string& reply, bool& full, const char* tag) {
  full = false;
  const ReplyReader::Outcome outcome =
      impl_ && connected
          ? impl_->reader.readThrough(tag, reply,
                                      Clock::now() + impl_->replyTimeout)
          : ReplyReader::Outcome::Failed;
  if (outcome == ReplyReader::Outcome::TooLarge) {
    full = true;
    return true;
  }
  if (outcome != ReplyReader::Outcome::Complete) {
    CliLogHelper(3, kLogFile, __func__, __LINE__).message("read from fifo failed!");
    return false;
  }
  return true;
}

bool ZUBAdaptor::parseResult(CLIResponse& response) {
  if (!impl_ || !connected) return false;
  ReplyReader& reader = impl_->reader;
  const ReplyReader::Outcome outcome =
      reader.readReply(Clock::now() + impl_->replyTimeout);
  impl_->lastFailure = failureOf(outcome);
  switch (outcome) {
    case ReplyReader::Outcome::Complete:
      ReplyClassifier::store(reader.reply(), reader.promptStart(), response);
      reader.releaseReply();
      return true;
    case ReplyReader::Outcome::TooLarge:
    case ReplyReader::Outcome::OutOfMemory:
      // A runaway CLI: no prompt to resynchronise on can be trusted.
      if (impl_->brokenBy == FailureKind::None) impl_->brokenBy = impl_->lastFailure;
      log(__LINE__, __func__,
          "CLI response length exceeds the string object's maximum length");
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

FailureKind ZUBAdaptor::getLastFailure() const {
  return impl_ ? impl_->lastFailure : FailureKind::NotConnected;
}

void ZUBAdaptor::setConnectTimeout(std::chrono::milliseconds timeout) {
  if (impl_) impl_->connectTimeout = timeout;
}

void ZUBAdaptor::setReplyTimeout(std::chrono::milliseconds timeout) {
  if (impl_) impl_->replyTimeout = timeout;
}

std::chrono::milliseconds ZUBAdaptor::getConnectTimeout() const {
  return impl_ ? impl_->connectTimeout : DEFAULT_CONNECT_TIMEOUT;
}

std::chrono::milliseconds ZUBAdaptor::getReplyTimeout() const {
  return impl_ ? impl_->replyTimeout : DEFAULT_REPLY_TIMEOUT;
}

int swmSpawnCli(int index) {
  return CliChild::spawn(zubdm::internal::machineNames().cliProgram, index);
}

bool swmKillCli(int pid) {
  // kill() with 0 or a negative id would signal whole process groups.
  if (pid <= 0 || kill(pid, SIGTERM) != 0) {
    const int error = pid <= 0 ? ESRCH : errno;
    CliLogHelper(3, kLogFile, __func__, __LINE__)
        .message("swmKillCli: %s, %d", strerror(error), error);
    return false;
  }
  return true;
}

}  // namespace ZUB_DEVICE_MEDIATION
