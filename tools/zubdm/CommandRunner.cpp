#include "CommandRunner.h"

#include <unistd.h>

#include <cstdio>

#include "ExitStatus.h"
#include "Interrupts.h"

int CommandRunner::run(const std::vector<std::string>& lines) {
  const size_t last = lastCommand(lines);
  bool failed = false;
  for (size_t i = 0; i < lines.size() && Interrupts::pending() == 0; ++i) {
    std::string error;
    bool ok = true;
    switch (mode_.follow(lines[i], error)) {
      case ModeTracker::Line::kModeCommand:
        continue;
      case ModeTracker::Line::kRefused:
        masks_.warn(lines[i] + ": " + error);
        ok = false;
        break;
      case ModeTracker::Line::kCommand:
        ok = session_ ? runCommand(lines[i], i, lines.size(), i == last) : printLines(lines[i]);
        break;
    }
    if (printer_.failed() || writeFailed_) return kExitUsage;
    failed = failed || !ok;
    if (!ok && !options_.keepGoing && i + 1 < lines.size() && Interrupts::pending() == 0) {
      masks_.warn("stopped after the failed line '" + lines[i] + "' (--keep-going goes on)");
      break;
    }
  }
  return failed || notFound_ ? kExitFailed : kExitSuccess;
}

size_t CommandRunner::lastCommand(const std::vector<std::string>& lines) const {
  ModeTracker mode = mode_;
  size_t last = lines.size();
  std::string ignored;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (mode.follow(lines[i], ignored) == ModeTracker::Line::kCommand) last = i;
  }
  return last;
}

bool CommandRunner::runCommand(const std::string& line, size_t index, size_t count, bool last) {
  const bool progress = !options_.batchFile.empty() && isatty(STDERR_FILENO);
  if (progress) {
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", index + 1, count, masks_.apply(line).c_str());
  }
  const bool ok = session_->run(line, mode_);
  if (progress) std::fprintf(stderr, "\r\033[K");
  // Interrupted: the run ends, and nothing more is written to a reader
  // that may be gone.
  if (Interrupts::pending() != 0) return false;
  CommandReport report = session_->lastReport();
  if (last) addLookups(report);
  if (report.failed && printer_.format() == ResultPrinter::Format::kRaw) {
    masks_.warn(line + ": " + report.errorText);
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

