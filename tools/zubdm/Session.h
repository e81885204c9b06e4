#ifndef ZUBDM_TOOLS_ZUBDM_SESSION_H
#define ZUBDM_TOOLS_ZUBDM_SESSION_H

#include <memory>
#include <string>
#include <vector>

#include "LogRouter.h"
#include "Options.h"
#include "zubdm.h"

// One connection to the element's CLI through a controller: brings it up,
// runs commands in the chosen mode and keeps the last result.
class Session {
 public:
  explicit Session(const Options& options);

  // Brings the CLI connection up; false with a reason for a person.
  bool open(std::string& reason);

  // Chooses the mode for the following commands: a mode name (with its
  // argument and prefix) or a ready-made context command. False with a
  // message naming the known modes when the mode is unknown.
  bool enterMode(const std::string& mode, const std::string& argument,
                 const std::string& prefix, std::string& error);
  void useContextCommand(const std::string& command);
  // "root", "config", "config-if A", ... or the context command in use.
  std::string modeLabel() const;

  // Runs one command; true when the result reads as Success.
  bool run(const std::string& command);
  ZUB_DEVICE_MEDIATION::CLIResult* last() { return last_.get(); }
  // The last result's state as the driver stored it, before it was read.
  const std::string& lastStoredState() const { return storedState_; }

  std::vector<std::string> knownModes() const;
  LogRouter& logs() { return logs_; }

 private:
  LogRouter logs_;
  CLIOpController controller_;
  std::vector<std::string> contextCommands_;
  std::string contextCommand_;
  std::string modeLabel_;
  std::unique_ptr<ZUB_DEVICE_MEDIATION::CLIResult> last_;
  std::string storedState_;
};

// True when an executable named `program` is found along PATH.
bool onPath(const std::string& program);

#endif  // ZUBDM_TOOLS_ZUBDM_SESSION_H
