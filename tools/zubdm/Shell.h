#ifndef ZUBDM_TOOLS_ZUBDM_SHELL_H
#define ZUBDM_TOOLS_ZUBDM_SHELL_H

#include "Masks.h"
#include "ModeTracker.h"
#include "Options.h"
#include "Recorder.h"
#include "ResultPrinter.h"
#include "Session.h"

// Interactive session: line editing and history (~/.zubdm_history), a
// prompt that shows the mode the commands run in, and ':' helpers (:find,
// :values, :mode, :json, :help, :quit). Mode commands typed as on the
// element ("configure terminal", "interface A", "exit", "end") change the
// mode; every other line is run in it. Ctrl-C abandons the line being typed
// or cancels the command being waited for; the connection is brought up
// again whenever the CLI has gone, and the session goes on. Lines are
// refused as on the command line: with a control byte, or after a refused
// mode line (they were meant for another mode). Messages on standard error
// are masked. Returns the exit status (1 once a line failed); another signal
// ends it (the caller sees the signal).
class Shell {
 public:
  Shell(Session& session, ModeTracker& mode, ResultPrinter& printer, Recorder& recorder,
        const Masks& masks)
      : session_(session), mode_(mode), printer_(printer), recorder_(recorder), masks_(masks) {}

  int run();

 private:
  // Each returns false when the shell must end.
  bool handleLine(const std::string& line);
  bool runCommand(const std::string& line);
  bool reconnect(const char* why);
  void awaitCliAfterInterrupt();
  void helper(const std::string& line);
  // Warns (masked), and the line failed.
  void refuse(const std::string& text);

  Session& session_;
  ModeTracker& mode_;
  ResultPrinter& printer_;
  Recorder& recorder_;
  const Masks& masks_;
  bool failed_ = false;
};

#endif  // ZUBDM_TOOLS_ZUBDM_SHELL_H
