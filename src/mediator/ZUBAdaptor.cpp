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
       writeLine(password, "", Clock::now() + bound) == std::strlen(password);
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
                             Clock::time_point deadline) {
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
      done += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN) {
      zubdm::internal::SigpipeShield::noteWriteFailure(errno);
      break;
    }
    // The pipe is full: wait for room, and meanwhile take in what the CLI
    // writes, so that a CLI echoing a long line never blocks on us.
    const Waiter::Result ready =
        impl_->waiter.wait(recvFd, sendFd, impl_->child.exitFd(), deadline);
    if (ready.event != Waiter::Event::Ready) break;
    if (ready.readable &&
        impl_->reader.absorb() != ByteSource::Status::Empty) {
      recvFd = -1;  // closed or failed: would be readable for ever
    }
  }
  // A line written in part would run together with the next one.
  if (done > 0 && done < length) impl_->lineBroken = true;
  return done;
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
  bool ready = loggedIn && isReadyForCommand();
  if (ready && impl_->reader.owesReply()) {
    // The rest of a reply that timed out must not pass for this one's.
    ready = impl_->reader.dropOwedReply(Clock::now() + impl_->replyTimeout) ==
            ReplyReader::Outcome::Complete;
  }
  if (!ready) {
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
  switch (outcome) {
    case ReplyReader::Outcome::Complete:
      ReplyClassifier::store(reader.reply(), reader.promptStart(), response);
      reader.releaseReply();
      return true;
    case ReplyReader::Outcome::TooLarge:
      // A runaway CLI: no prompt to resynchronise on can be trusted.
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
