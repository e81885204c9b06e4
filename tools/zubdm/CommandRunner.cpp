#include "CommandRunner.h"

#include <cstdio>

#include "ExitStatus.h"
#include "Interrupts.h"

int CommandRunner::run(const std::vector<Line>& lines) {
  const size_t last = lastCommand(lines);
  bool failed = false;
  for (size_t i = 0; i < lines.size() && Interrupts::pending() == 0; ++i) {
    std::string error;
    bool ok = true;
    switch (const ModeTracker::Line kind = mode_.follow(lines[i].text, error)) {
      case ModeTracker::Line::kModeCommand:
        continue;
      case ModeTracker::Line::kRefused:
      case ModeTracker::Line::kHeldBack:
        masks_.warn(lines[i].text + ": " + error);
        if (printer_.format() == ResultPrinter::Format::kJson) {
          printer_.print(heldBack(lines[i], kind == ModeTracker::Line::kRefused, error));
        }
        ok = false;
        break;
      case ModeTracker::Line::kCommand:
        ok = session_ ? runCommand(lines[i], i, lines.size(), i == last) : printLines(lines[i].text);
        break;
    }
    if (printer_.failed() || writeFailed_) return kExitUsage;
    failed = failed || !ok;
    if (!ok && !options_.keepGoing && i + 1 < lines.size() && Interrupts::pending() == 0) {
      masks_.warn("stopped after the failed line '" + lines[i].text + "' (--keep-going goes on)");
      break;
    }
  }
  return failed || notFound_ ? kExitFailed : kExitSuccess;
}

size_t CommandRunner::lastCommand(const std::vector<Line>& lines) const {
  ModeTracker mode = mode_;
  size_t last = lines.size();
  std::string ignored;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (mode.follow(lines[i].text, ignored) == ModeTracker::Line::kCommand) last = i;
  }
  return last;
}

CommandReport CommandRunner::heldBack(const Line& line, bool refused, const std::string& error) const {
  CommandReport report;
  report.line = line.number;
  report.command = line.text;
  report.mode = mode_.label();
  report.state = "Failed";
  report.sent = false;
  report.failed = true;
  report.errorKind = refused ? "refused" : "not_sent";
  report.errorText = error;
  return report;
}

bool CommandRunner::runCommand(const Line& line, size_t index, size_t count, bool last) {
  const std::string shown = "[" + std::to_string(index + 1) + "/" + std::to_string(count) + "] " +
                            masks_.apply(line.text);
  const bool ok = session_->run(line.text, mode_, shown);
  // Interrupted: the run ends, and nothing more is written to a reader
  // that may be gone.
  if (Interrupts::pending() != 0) return false;
  CommandReport report = session_->lastReport();
  report.line = line.number;
  if (last) addLookups(report);
  if (report.failed && printer_.format() == ResultPrinter::Format::kRaw) {
    masks_.warn(line.text + ": " + report.errorText);
  }
  printer_.print(report);
  return ok;
}

bool CommandRunner::printLines(const std::string& line) {
  std::string text;
  for (const std::string& modeLine : mode_.lines()) text += modeLine + "\n";
  text += std::to_string(++number_) + " " + line + "\n";
  writeFailed_ = std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0;
  return !writeFailed_;
}

void CommandRunner::addLookups(CommandReport& report) {
  ZUB_DEVICE_MEDIATION::CLIResult& result = *session_->last();
  const std::vector<std::string>& find = options_.find;
  if (!find.empty()) {
    report.findAsked = true;
    report.found = result.getXMLResult().find_value(find[0].c_str(), find[1].c_str(),
                                                    find[2].c_str(), report.foundValue) == 1;
    notFound_ = !report.found;
  }
  if (!options_.values.empty()) {
    report.valuesAsked = true;
    result.getXMLValues(report.values, options_.values[0], options_.values[1],
                        options_.values[2]);
  }
}
