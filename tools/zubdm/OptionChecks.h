#ifndef ZUBDM_TOOLS_ZUBDM_OPTIONCHECKS_H
#define ZUBDM_TOOLS_ZUBDM_OPTIONCHECKS_H

#include <string>
#include <vector>

#include "Options.h"

// How the options combine: one source of commands, options that belong
// together, no text with control bytes. False with a message for a person.
bool checkOptions(const Options& options, std::string& error);

// False with a message naming `what` when `text` holds a control byte (or
// DEL), which would break the line it is sent in or hide what is sent.
bool checkText(const std::string& what, const std::string& text, std::string& error);

// A line to run, and where it came from: its line number in the batch
// file, or its position among the command arguments (from 1).
struct Line {
  size_t number;
  std::string text;
};

// Reads the command lines of a batch file ("-": standard input): one per
// line, without blanks before it, a line end's "\r" and a leading UTF-8
// byte order mark; blank lines and '#' comments skipped. False with a
// message when it cannot be read, is a directory, holds no command or a
// control byte.
bool readBatch(const std::string& file, std::vector<Line>& lines, std::string& error);

#endif  // ZUBDM_TOOLS_ZUBDM_OPTIONCHECKS_H
