#ifndef ZUBDM_TOOLS_ZUBDM_RECORDER_H
#define ZUBDM_TOOLS_ZUBDM_RECORDER_H

#include <string>
#include <string_view>
#include <vector>

#include "Masks.h"
#include <zubdm/zubdm.h>

// Records the session as a scenario of the CLI simulator: each line written
// to the CLI with the exact bytes that came back until the next line was
// written (the prompt included), in order, so that the simulator replays
// the replies byte for byte and the same command may be answered
// differently each time. The login is left out (the simulator does its
// own). Masks are applied to commands and replies. Borrows the masks; not
// thread-safe.
class Recorder {
 public:
  explicit Recorder(const Masks& masks) : masks_(masks) {}

  // Records into `path` once started; false with a message when it cannot
  // be written. Without a file nothing is ever held.
  bool recordTo(const std::string& path, std::string& error);
  // The transcript sink; ignored until start().
  void add(ZUB_DEVICE_MEDIATION::ZUBAdaptor::Direction direction, std::string_view bytes);
  // Records from now on (after the login), when there is a file.
  void start() { recording_ = started_ = !path_.empty(); }
  // Stops recording (before a restart, whose login is not recorded). A
  // line that got no reply (a command cancelled) is left out.
  void stop();
  // Whether anything was recorded since a connection came up.
  bool started() const { return started_; }

  // Writes the scenario to the file; false with a message.
  bool write(std::string& error) const;

 private:
  struct Exchange {
    std::string line;   // as written, without the number and line end
    std::string reply;  // every byte read after it
  };

  const Masks& masks_;
  std::string path_;
  bool recording_ = false;
  bool started_ = false;
  bool replyStarted_ = false;
  std::vector<Exchange> exchanges_;
};

#endif  // ZUBDM_TOOLS_ZUBDM_RECORDER_H
