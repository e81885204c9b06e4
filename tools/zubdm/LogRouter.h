#ifndef ZUBDM_TOOLS_ZUBDM_LOGROUTER_H
#define ZUBDM_TOOLS_ZUBDM_LOGROUTER_H

#include <string>
#include <vector>

// Receives the library's log messages for the command's lifetime and keeps
// the latest error messages, so that a failure can be explained; nothing
// goes to syslog. Not thread-safe beyond what the log sink guarantees.
class LogRouter {
 public:
  LogRouter();
  ~LogRouter();
  LogRouter(const LogRouter&) = delete;
  LogRouter& operator=(const LogRouter&) = delete;

  // The error messages (severity 3 and below) logged since the last call,
  // oldest first.
  std::vector<std::string> takeErrors();

 private:
  std::vector<std::string> errors_;
};

#endif  // ZUBDM_TOOLS_ZUBDM_LOGROUTER_H
