#ifndef ZUBDM_TOOLS_ZUBDM_COMMANDRUNNER_H
#define ZUBDM_TOOLS_ZUBDM_COMMANDRUNNER_H

#include <string>
#include <vector>

#include "Masks.h"
#include "ModeTracker.h"
#include "OptionChecks.h"
#include "Options.h"
#include "ResultPrinter.h"
#include "Session.h"

// Runs the lines of the command line or of a batch file the way the shell
// does: mode commands move the mode for the lines after them, every other
// line runs as a command in that mode, and the first failure ends the run
// unless --keep-going; a line after a refused mode line is not sent (it was
// meant for another mode). Without a session (--dry-run) it prints the lines
// that would be written instead. Stops at a signal. Lines quoted on
// standard error are masked. With --json, a line that zubdm refused or
// held back gets a record too. Borrows everything.
class CommandRunner {
 public:
  CommandRunner(const Options& options, ModeTracker& mode, Session* session,
                ResultPrinter& printer, const Masks& masks)
      : options_(options), mode_(mode), session_(session), printer_(printer), masks_(masks) {}

  // Returns the exit status (a signal is left for the caller to see).
  int run(const std::vector<Line>& lines);

 private:
  // The index of the last line that is no mode line (lines.size(): none);
  // the lookups (--find, --values) read that command's result.
  size_t lastCommand(const std::vector<Line>& lines) const;
  // The report of a line that follow() did not let through.
  CommandReport heldBack(const Line& line, bool refused, const std::string& error) const;
  // Each returns false when the line failed.
  bool runCommand(const Line& line, size_t index, size_t count, bool last);
  bool printLines(const std::string& line);
  void addLookups(CommandReport& report);

  const Options& options_;
  ModeTracker& mode_;
  Session* session_;
  ResultPrinter& printer_;
  const Masks& masks_;
  unsigned long number_ = 0;
  bool notFound_ = false;
  bool writeFailed_ = false;
};

#endif  // ZUBDM_TOOLS_ZUBDM_COMMANDRUNNER_H
