#include "ConnectFailure.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "FileOwner.h"
#include "MachinePaths.h"
#include "ProcessProbe.h"

using ZUB_DEVICE_MEDIATION::FailureKind;

namespace {

std::string tableProblem() {
  const std::string& table = machinePaths().userTable;
  const int fd = shm_open(table.c_str(), O_RDWR | O_CLOEXEC, 0);
  const int error = errno;
  if (fd >= 0) {
    close(fd);
    return "no free CLI user slot in " + table +
           " ('zubdm slots' lists them; 'zubdm slots --free-stale' frees those whose process "
           "has gone)";
  }
  std::string text = "cannot open the CLI user table " + table + ": " + std::strerror(error);
  const std::string file = describeFile("/dev/shm" + table);
  if (!file.empty()) text += " (it is " + file + ")";
  return text;
}

// The pipe path in "Can't create write FIFO:/tmp/clPipeW0", or empty.
std::string plantedPipe(const std::vector<std::string>& logged) {
  for (const std::string& line : logged) {
    const size_t at = line.find("FIFO:");
    if (line.rfind("Can't create", 0) == 0 && at != std::string::npos) return line.substr(at + 5);
  }
  return std::string();
}

std::string pipeProblem(const std::string& path) {
  const std::string file = describeFile(path);
  if (file.empty()) return "cannot create the pipe file " + path;
  return "the pipe file " + path + " is already there and is not this user's private FIFO: it is " +
         file + "; removing it (rm " + path + ") frees the slot";
}

bool logs(const std::vector<std::string>& logged, const std::string& line) {
  return std::find(logged.begin(), logged.end(), line) != logged.end();
}

bool isCause(const std::string& line) {
  return line.rfind("cause", 0) == 0 || line.rfind("Cause", 0) == 0;
}

}  // namespace

void ConnectFailure::observe(ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction direction,
                             std::string_view bytes) {
  if (direction != ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction::FromCli) return;
  // "Login:" again after the password: the login was refused.
  if (bytes.find("Login:") != std::string_view::npos) {
    refused_ = promptsSeen_ == 2;
    if (promptsSeen_ == 0) promptsSeen_ = 1;
  }
  if (bytes.find("Password:") != std::string_view::npos) promptsSeen_ = 2;
}

std::string ConnectFailure::waitedFor() const {
  static const char* const kPrompts[] = {"the CLI's \"Login:\" (its pipe opened and its first output)",
                                         "the password prompt \"Password:\"",
                                         "the first prompt \"HVB...#\" after the login"};
  return kPrompts[promptsSeen_];
}

std::vector<std::string> ConnectFailure::explain(const ZUB_DEVICE_MEDIATION::ZUBAdaptor& adaptor,
                                                 const std::vector<std::string>& logged,
                                                 long elapsedMs) const {
  std::vector<std::string> out;
  const std::string pipe = plantedPipe(logged);
  const FailureKind kind = adaptor.getLastFailure();
  const bool spawned = promptsSeen_ > 0 || adaptor.getCliPid() > 0;
  const long timeoutMs = static_cast<long>(adaptor.getConnectTimeout().count());
  if (adaptor.getCliIndex() == -1) {
    out.push_back(tableProblem());
  } else if (!pipe.empty()) {
    out.push_back(pipeProblem(pipe));
  } else if (logs(logged, "Can't create CLI process")) {
    out.push_back("the CLI program could not be started");
  } else if (refused_) {
    out.push_back("the CLI refused the login: it asked for \"Login:\" again after the password");
  } else if (kind == FailureKind::Cancelled) {
    out.push_back("interrupted while waiting for " + waitedFor());
  } else if (kind == FailureKind::TimedOut || elapsedMs >= timeoutMs) {
    out.push_back("no answer from the CLI: waited " + std::to_string(timeoutMs) +
                  " ms (--connect-timeout) for " + waitedFor());
  } else if (kind == FailureKind::CliGone || spawned) {
    // Before the time-out only an end of the CLI's output ends the login;
    // the CLI may not have been reaped yet.
    const char* what = processRunning(adaptor.getCliPid()) ? "closed its output" : "ended";
    out.push_back("the CLI " + std::string(what) + " while the login waited for " + waitedFor());
  } else {
    out.push_back("could not bring up the CLI connection");
    for (const std::string& line : logged) out.push_back("library: " + line);
  }
  for (const std::string& line : logged) {
    if (isCause(line)) out.push_back(line);
  }
  return out;
}
