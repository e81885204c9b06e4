#ifndef ZUBDM_TOOLS_ZUBDM_SESSION_H
#define ZUBDM_TOOLS_ZUBDM_SESSION_H

#include <memory>
#include <string>
#include <vector>

#include "CommandReport.h"
#include "ModeTracker.h"
#include "Options.h"
#include "Progress.h"
#include <zubdm/zubdm.h>

// One connection to the element's CLI through a controller: brings it up
// (explaining a failure from the library's failure record), runs commands
// in the mode a ModeTracker gives and keeps the last result, and takes the
// connection down. Passes every byte of the exchange to a transcript sink.
// The library's log messages are dropped: the command says what failed.
// On a terminal, a reply that takes long shows its progress (not with
// --json, --raw or -v, whose output it would garble).
class Session {
 public:
  explicit Session(const Options& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  ZUB_DEVICE_MEDIATION::ZUBAdaptor& adaptor() { return controller_.adaptor; }
  void setTranscriptSink(ZUB_DEVICE_MEDIATION::ZUBAdaptor::TranscriptSink sink);
  // The --error-prefix lines; false with a message naming a prefix that the
  // library refuses.
  bool setErrorPrefixes(const std::vector<std::string>& prefixes, std::string& error);

  // Brings the CLI connection up (again); false with the reasons for a
  // person, one per line.
  bool open(std::vector<std::string>& reasons);
  // Ends the CLI and removes the pipes; the slot is freed with the session.
  void close();
  // False once the CLI has ended or the mediator refuses commands.
  bool usable() const;

  // Runs one command; true when the result reads as Success. `shown` names
  // it in the progress line.
  bool run(const std::string& command, const ModeTracker& mode, const std::string& shown);
  ZUB_DEVICE_MEDIATION::CLIResult* last() { return last_.get(); }
  // The report of the last command.
  CommandReport lastReport() { return makeReport(lastContext_, *last_); }

 private:
  // Keeps the library's messages out of syslog while the command runs.
  struct QuietLog {
    QuietLog();
    ~QuietLog();
  };

  QuietLog quiet_;
  const bool showProgress_;
  Progress progress_;
  CLIOpController controller_;
  std::unique_ptr<ZUB_DEVICE_MEDIATION::CLIResult> last_;
  CommandContext lastContext_;
};

// Why the connection could not be brought up, in words for an operator:
// what went wrong first, then the library's cause line.
std::vector<std::string> connectFailureText(const ZUB_DEVICE_MEDIATION::FailureRecord& failure);

#endif  // ZUBDM_TOOLS_ZUBDM_SESSION_H
