#ifndef ZUBDM_TOOLS_ZUBDM_CONNECTFAILURE_H
#define ZUBDM_TOOLS_ZUBDM_CONNECTFAILURE_H

#include <string>
#include <string_view>
#include <vector>

#include "zubdm.h"

// Explains, in words for an operator, why the CLI connection could not be
// brought up: from the mediator's state and last failure, the error lines
// the library logged, what it is seen waiting for in the transcript, and
// the files the names point to. Not thread-safe.
class ConnectFailure {
 public:
  // The transcript sink: follows the login's prompts to tell which one was
  // due next.
  void observe(ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction direction, std::string_view bytes);
  // Forgets the login seen so far (before a new connect).
  void reset() {
    promptsSeen_ = 0;
    refused_ = false;
  }

  // One line per finding, the most telling first; `elapsedMs` is how long
  // the connect took.
  std::vector<std::string> explain(const ZUB_DEVICE_MEDIATION::ZUBAdaptor& adaptor,
                                   const std::vector<std::string>& logged, long elapsedMs) const;

 private:
  // The prompt the login was waiting for.
  std::string waitedFor() const;

  // 0: nothing yet; 1: "Login:"; 2: "Password:" came from the CLI.
  int promptsSeen_ = 0;
  bool refused_ = false;
};

#endif  // ZUBDM_TOOLS_ZUBDM_CONNECTFAILURE_H
