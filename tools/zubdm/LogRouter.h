#ifndef ZUBDM_TOOLS_ZUBDM_LOGROUTER_H
#define ZUBDM_TOOLS_ZUBDM_LOGROUTER_H

#include <string>
#include <vector>

// Receives the library's log messages for the command's lifetime: writes them
// to standard error when verbose, and keeps the latest ones so that a failure
// can be explained.
class LogRouter {
 public:
  explicit LogRouter(bool verbose);
  ~LogRouter();
  LogRouter(const LogRouter&) = delete;
  LogRouter& operator=(const LogRouter&) = delete;

  // The error messages (severity 3) logged since the last call, oldest first.
  std::vector<std::string> takeErrors();

 private:
  bool verbose_;
  std::vector<std::string> errors_;
};

#endif  // ZUBDM_TOOLS_ZUBDM_LOGROUTER_H
