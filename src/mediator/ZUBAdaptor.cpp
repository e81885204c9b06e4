#include "mediator/ZUBAdaptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "common/CliLogHelper.h"
#include "common/LargeBuffer.h"
#include "fifo/SigpipeShield.h"
#include "mediator/PromptMatcher.h"
#include "mediator/ReplyClassifier.h"

extern char** environ;

namespace ZUB_DEVICE_MEDIATION {

constexpr std::chrono::milliseconds ZUBAdaptor::DEFAULT_CONNECT_TIMEOUT;
constexpr std::chrono::milliseconds ZUBAdaptor::DEFAULT_REPLY_TIMEOUT;

namespace {

const char kLogFile[] = "ZUBAdaptor";
const char kTableName[] = "/shmem_cl_users";
const int kTableSize = 1740;
const char kPipeDir[] = "/tmp/";
const int kPipeMode = 0667;
const char kUser[] = "root\r\n";
const char kPassword[] = "tquvz\r\n";
const char kLineEnd[] = "\n\r";
const char kPromptStart[] = "HVB";
const char kPromptEnd[] = "#";
const char kRootCommand[] = "end";
// How long a CLI gets to end after SIGTERM before it is killed.
const int kTerminateGraceMs = 300;
// Longest pause between attempts to open the write pipe.
const int kMaxOpenRetryMs = 20;

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  // Round up, so a wait never ends just before its deadline.
  return static_cast<int>(
      std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// CPUs this thread may run on: with one, the CLI cannot answer while the
// mediator spins.
int usableCpus() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
  return CPU_COUNT(&cpus);
}

// What a child whose exec failed would have reported itself.
void reportExecFailure(int error) {
  std::fprintf(stderr, "execvp() failed: %s\n", strerror(error));
  syslog(LOG_ERR, "execvp() failed");
  syslog(LOG_ERR, "%s", strerror(error));
}

}  // namespace

ZUBAdaptor::ZUBAdaptor()
    : connected(false),
      loggedIn(false),
      cliUsers(kTableName, kTableSize),
      cliPid(-1),
      cliIndex(-1),
      connectTimeout_(DEFAULT_CONNECT_TIMEOUT),
      replyTimeout_(DEFAULT_REPLY_TIMEOUT),
      replyState_(ReplyState::InSync),
      lateTag_(kPromptStart),
      readTimedOut_(false),
      readsNonBlocking_(false),
      lastReadFull_(false),
      earlyReplies_(0),
      waitsSinceTry_(0),
      spinAllowed_(false),
      spinForReply_(false),
      ringRead_(kNoRingRead) {
  cliIndex = swmGetFreeCliUserIndex(cliUsers);
  if (cliIndex == -1) {
    CliLogHelper(3, kLogFile, __func__, __LINE__).message("No free cli index");
  }
}

ZUBAdaptor::~ZUBAdaptor() {
  if (cliPid != -1) child_.terminate(kTerminateGraceMs);
  cliUsers.initEntry(cliIndex);
}

bool ZUBAdaptor::connect() {
  if (cliIndex == -1) return false;
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
  std::snprintf(name, sizeof name, "%sclPipeW%d", kPipeDir, cliIndex);
  if (fifoSend.create(name, kPipeMode) == -1) {
    CliLogHelper(3, kLogFile, "connect", __LINE__)
        .message("Can't create write FIFO:%s", name);
    return false;
  }
  std::snprintf(name, sizeof name, "%sclPipeR%d", kPipeDir, cliIndex);
  if (fifoRecv.create(name, kPipeMode) == -1) {
    CliLogHelper(3, kLogFile, "connect", __LINE__)
        .message("Can't create read FIFO:%s", name);
    return false;
  }
  return true;
}

bool ZUBAdaptor::spawnCli() {
  // A CLI left running by an earlier failed connect is ended, not orphaned.
  if (child_.held()) child_.terminate(kTerminateGraceMs);
  cliPid = swmSpawnCli(cliIndex);
  if (cliPid == -1) {
    CliLogHelper(3, kLogFile, "connect", __LINE__)
        .message("Can't create CLI process");
    return false;
  }
  child_.adopt(cliPid);
  cliUsers.setPid(cliIndex, cliPid);
  return true;
}

bool ZUBAdaptor::openPipes() {
  // Bytes an earlier CLI left unread must not open the new CLI's stream.
  fifoRecv.discard_buffer();
  if (!openWritePipe(Clock::now() + connectTimeout_)) {
    CliLogHelper(3, kLogFile, "connect", __LINE__).message("Cant open FIFO");
    return false;
  }
  // Non-blocking, the open returns at once; the wait for the CLI's first
  // bytes is the login's, bounded like every other read.
  if (fifoRecv.open(nullptr, O_RDONLY | O_NONBLOCK, kPipeMode) == -1) {
    CliLogHelper(3, kLogFile, "connect", __LINE__).message("Can't open fifo");
    return false;
  }
  // Reads never block (every wait is a bounded poll), so a read can be tried
  // before waiting where bytes are likely to be there already.
  readsNonBlocking_ = fifoRecv.enable(O_NONBLOCK) == 0;
  lastReadFull_ = false;
  earlyReplies_ = 0;
  waitsSinceTry_ = 0;
  spinAllowed_ = usableCpus() > 1;
  spinForReply_ = false;
  ringRead_ = kNoRingRead;
  ring_.open(child_.exitFd());
  return true;
}

bool ZUBAdaptor::openWritePipe(Clock::time_point deadline) {
  int pauseMs = 1;
  for (;;) {
    if (fifoSend.open(nullptr, O_WRONLY | O_NONBLOCK, kPipeMode) == 0) {
      return fifoSend.disable(O_NONBLOCK) == 0;
    }
    // ENXIO: the CLI has not opened its reading end yet.
    if (errno != ENXIO || child_.exited()) return false;
    const int left = millisecondsUntil(deadline);
    if (left == 0) return false;
    const int pause = std::min(pauseMs, left);
    if (child_.exitFd() >= 0) {
      // Wakes at once when the CLI ends instead of opening its pipe.
      struct pollfd entry = {child_.exitFd(), POLLIN, 0};
      poll(&entry, 1, pause);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
    pauseMs = std::min(pauseMs * 2, kMaxOpenRetryMs);
  }
}

int ZUBAdaptor::login(const char* user, const char* password) {
  if (loggedIn) return 0;
  std::string text;
  bool ok = connected && swmExpect(text, "Login:", "") == 0 &&
            sendLine(user, std::strlen(user));
  text.clear();
  ok = ok && swmExpect(text, "Password:", "") == 0 &&
       sendLine(password, std::strlen(password));
  text.clear();
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
  const Clock::time_point deadline = Clock::now() + connectTimeout_;
  ReadOutcome outcome = skipUntil(first, deadline);
  if (outcome == ReadOutcome::Matched) {
    text.append(first);
    if (second == nullptr || *second == '\0') return 0;
    outcome = readUntil(second, &text, MAX_REPLY_SIZE, deadline);
  }
  if (outcome != ReadOutcome::Matched) {
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
  ring_.close();
  fifoRecv.remove();
  fifoSend.remove();
  connected = false;
  loggedIn = false;
  cliPid = -1;
  replyState_ = ReplyState::InSync;
  return true;
}

bool ZUBAdaptor::endCli() {
  const int error = child_.terminate(kTerminateGraceMs);
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

bool ZUBAdaptor::sendLine(const char* text, size_t length) {
  return fifoSend.send(text, static_cast<unsigned int>(length)) ==
         static_cast<int>(length);
}

ZUBAdaptor::ReadOutcome ZUBAdaptor::waitReadable(Clock::time_point deadline) {
  for (;;) {
    const int timeout = millisecondsUntil(deadline);
    struct pollfd entries[2] = {{fifoRecv.get_handle(), POLLIN, 0},
                                {child_.exitFd(), POLLIN, 0}};
    const nfds_t count = child_.exitFd() >= 0 ? 2 : 1;
    const int ready = poll(entries, count, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ReadOutcome::Failed;
    }
    // Readable, closed or in error: the read tells which.
    if (entries[0].revents != 0) return ReadOutcome::Matched;
    // The CLI ended without ever writing to (or opening) its pipe.
    if (count == 2 && entries[1].revents != 0) return ReadOutcome::Failed;
    if (timeout == 0) return ReadOutcome::TimedOut;
  }
}

ZUBAdaptor::ReadOutcome ZUBAdaptor::refill(Clock::time_point deadline) {
  if (ringRead_ != kNoRingRead) {
    // The reply's first read was made along with the command's writes.
    const int got = ringRead_;
    ringRead_ = kNoRingRead;
    if (got > 0) {
      fifoRecv.filled(got);
      return received(got);
    }
    if (got == -ETIME) return ReadOutcome::TimedOut;
    // End of file, the CLI's exit, or an error; a read that was not made
    // (or would have blocked) is made below.
    if (got != -ECANCELED && got != -EAGAIN) return ReadOutcome::Failed;
  }
  // A read before the wait saves the wait whenever the bytes are there
  // already: while a long reply streams in (the last read filled the
  // buffer), and, when the reply's first bytes are being spun for, if they
  // come within the spin.
  const bool streaming = lastReadFull_;
  const bool spin = spinForReply_;
  spinForReply_ = false;
  lastReadFull_ = false;
  if (readsNonBlocking_ && (streaming || spin)) {
    const int got = spin ? spinRead(deadline) : fifoRecv.fill();
    if (spin) {
      earlyReplies_ = got > 0 ? std::min(earlyReplies_ + 2, kEarlyRepliesMax)
                              : std::max(earlyReplies_ - 1, -kEarlyRepliesMax);
    }
    if (got > 0) return received(got);
    if (got == 0 || errno != EAGAIN) return ReadOutcome::Failed;
  }
  for (;;) {
    const ReadOutcome ready = waitReadable(deadline);
    if (ready != ReadOutcome::Matched) return ready;
    const int got = fifoRecv.fill();
    if (got > 0) return received(got);
    // Readable, yet nothing to read: wait again, but not past the deadline.
    if (got < 0 && errno == EAGAIN && readsNonBlocking_) {
      if (millisecondsUntil(deadline) == 0) return ReadOutcome::TimedOut;
      continue;
    }
    return ReadOutcome::Failed;
  }
}

namespace {

// Appending the bytes read to a caller's text or to the reply buffer.
void appendTo(std::string& text, const char* bytes, size_t count) {
  QOR::reserveForAppend(text, count);
  text.append(bytes, count);
}

void appendTo(ReplyBuffer& buffer, const char* bytes, size_t count) {
  buffer.append(bytes, count);
}

}  // namespace

template <typename Sink>
ZUBAdaptor::ReadOutcome ZUBAdaptor::readUntil(const char* tag, Sink* sink,
                                              size_t limit,
                                              Clock::time_point deadline) {
  PromptMatcher matcher(tag);
  for (;;) {
    if (fifoRecv.buffered() == 0) {
      const ReadOutcome filled = refill(deadline);
      if (filled != ReadOutcome::Matched) return filled;
    }
    size_t available = static_cast<size_t>(fifoRecv.buffered());
    if (sink != nullptr) {
      if (sink->size() >= limit) return ReadOutcome::Full;
      available = std::min(available, limit - sink->size());
    }
    const size_t used = matcher.feed(fifoRecv.buffered_data(), available);
    if (sink != nullptr) appendTo(*sink, fifoRecv.buffered_data(), used);
    fifoRecv.consume(static_cast<int>(used));
    if (matcher.matched()) return ReadOutcome::Matched;
  }
}

ZUBAdaptor::ReadOutcome ZUBAdaptor::skipUntil(const char* tag,
                                              Clock::time_point deadline) {
  return readUntil<std::string>(tag, nullptr, 0, deadline);
}

bool ZUBAdaptor::send(const std::string& command, CLIResponse& response) {
  // One shield for the whole exchange instead of one per write.
  SigpipeShield shield(SigpipeShield::NOTED_WRITES);
  if (!loggedIn || !discardLateReply() || !isReadyForCommand()) {
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

ZUBAdaptor::ReadOutcome ZUBAdaptor::received(int count) {
  lastReadFull_ = count == QorFIFO_Recv::BUFFER_SIZE;
  return ReadOutcome::Matched;
}

int ZUBAdaptor::spinRead(Clock::time_point deadline) {
  const Clock::time_point until = std::min(Clock::now() + kSpinTime, deadline);
  for (;;) {
    const int got = fifoRecv.fill();
    if (got != -1 || errno != EAGAIN || Clock::now() >= until) return got;
  }
}

bool ZUBAdaptor::shouldSpinForReply() {
  if (!spinAllowed_ || !readsNonBlocking_) return false;
  if (earlyReplies_ > 0) return true;
  if (++waitsSinceTry_ < kTrySpinEvery) return false;
  waitsSinceTry_ = 0;
  return true;
}

bool ZUBAdaptor::writeCommand(const std::string& command) {
  int line = -ECANCELED;
  int lineEnd = -ECANCELED;
  // A reply that comes within the spin is read at once by plain reads; one
  // that comes later is best waited for in the ring's single submission.
  const bool bufferEmpty = fifoRecv.buffered() == 0;
  spinForReply_ = bufferEmpty && shouldSpinForReply();
  if (!spinForReply_ && bufferEmpty && ring_.usable()) {
    const ExchangeRing::Outcome outcome = ring_.exchange(
        fifoSend.get_handle(), command, std::string_view(kLineEnd, 2),
        fifoRecv.get_handle(), fifoRecv.fill_area(), QorFIFO_Recv::BUFFER_SIZE,
        Clock::now() + replyTimeout_);
    line = outcome.line;
    lineEnd = outcome.lineEnd;
    ringRead_ = outcome.read;
  }
  const char* failure =
      !finishWrite(line, command.data(), command.size()) ? "Can't send command"
      : !finishWrite(lineEnd, kLineEnd, 2)                ? "Can't write to pipe"
                                                          : nullptr;
  if (failure == nullptr) return true;
  // No reply is read for a command that did not go out whole.
  ringRead_ = kNoRingRead;
  spinForReply_ = false;
  CliLogHelper(3, kLogFile, "send", __LINE__).message(std::string(failure));
  return false;
}

bool ZUBAdaptor::finishWrite(int written, const char* text, size_t length) {
  if (written == static_cast<int>(length)) return true;
  if (written < 0 && written != -ECANCELED && written != -EAGAIN) {
    errno = -written;
    SigpipeShield::noteWriteFailure(errno);
    return false;
  }
  const size_t done = written > 0 ? static_cast<size_t>(written) : 0;
  return sendLine(text + done, length - done);
}

bool ZUBAdaptor::discardLateReply() {
  if (replyState_ != ReplyState::TimedOut) return true;
  const Clock::time_point deadline = Clock::now() + replyTimeout_;
  if (lateTag_ == kPromptStart) {
    if (skipUntil(kPromptStart, deadline) != ReadOutcome::Matched) return false;
    lateTag_ = kPromptEnd;
  }
  if (skipUntil(kPromptEnd, deadline) != ReadOutcome::Matched) return false;
  replyState_ = ReplyState::InSync;
  return true;
}

bool ZUBAdaptor::findTagEnd(std::string& reply, bool& full, const char* tag) {
  return readReplyUntil(&reply, full, tag);
}

template <typename Sink>
bool ZUBAdaptor::readReplyUntil(Sink* reply, bool& full, const char* tag) {
  full = false;
  const ReadOutcome outcome =
      readUntil(tag, reply, MAX_REPLY_SIZE, replyDeadline_);
  if (outcome == ReadOutcome::Full) {
    full = true;
    return true;
  }
  if (outcome != ReadOutcome::Matched) {
    readTimedOut_ = outcome == ReadOutcome::TimedOut;
    CliLogHelper(3, kLogFile, "findTagEnd", __LINE__)
        .message("read from fifo failed!");
    return false;
  }
  return true;
}

bool ZUBAdaptor::parseResult(CLIResponse& response) {
  replyDeadline_ = Clock::now() + replyTimeout_;
  readTimedOut_ = false;
  // The reply is read into the mediator's buffer; only what the response
  // keeps is copied out of it.
  ReplyBuffer& reply = replyBuffer_;
  reply.clear();
  size_t prompt = 0;
  for (const char* tag : {kPromptStart, kPromptEnd}) {
    bool ok = true;
    bool full = true;
    while (ok && full && reply.size() < MAX_REPLY_SIZE) {
      ok = readReplyUntil(&reply, full, tag);
    }
    if (!ok) {
      if (readTimedOut_) {
        // The rest of this reply is still to come; it is discarded before
        // the next command so it can never pass for that command's reply.
        response.setTimeout();
        replyState_ = ReplyState::TimedOut;
        lateTag_ = tag;
      }
      reply.clear();
      CliLogHelper(3, kLogFile, __func__, __LINE__)
          .message("Error reading CLI output");
      return false;
    }
    if (reply.size() >= MAX_REPLY_SIZE) {
      // A runaway CLI: no prompt to resynchronise on can be trusted.
      replyState_ = ReplyState::Broken;
      reply.clear();
      CliLogHelper(3, kLogFile, __func__, __LINE__)
          .message("CLI response length exceeds the string object's maximum length");
      return false;
    }
    // The first "HVB" of the reply ends where its search stopped (its first
    // character occurs nowhere else in it, so the scan misses none).
    if (tag == kPromptStart) prompt = reply.size() - (sizeof(kPromptStart) - 1);
  }
  ReplyClassifier::store(std::string_view(reply.data(), reply.size()), prompt,
                         response);
  reply.clear();
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

int swmSpawnCli(int index) {
  // Everything is prepared before the child exists; posix_spawnp reports a
  // failed exec as its result, so the caller learns it at once.
  char program[] = "cli";
  char option[] = "-n";
  char digits[16] = {};
  std::snprintf(digits, sizeof digits, "%d", index);
  char* arguments[] = {program, option, digits, nullptr};

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The CLI starts with no blocked signals and default SIGPIPE and SIGTERM
  // handling, whatever the calling thread had.
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  sigaddset(&signals, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int error =
      posix_spawnp(&pid, program, nullptr, &attributes, arguments, environ);
  posix_spawnattr_destroy(&attributes);
  if (error == 0) return pid;

  CliLogHelper(3, kLogFile, __func__, __LINE__)
      .message("ERROR:CLI Spawn:idx=%d,errno=%d", index, error);
  if (error != EAGAIN && error != ENOMEM) reportExecFailure(error);
  return -1;
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
