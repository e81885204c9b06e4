#ifndef ZUBDM_TOOLS_CLI_SIM_TRANSCRIPT_H
#define ZUBDM_TOOLS_CLI_SIM_TRANSCRIPT_H

#include <string>

// Append-only record of the input lines, one per line, each written with
// one write(2) as it arrives, so a reader sees it even if the simulator is
// killed right after. Owns its descriptor. Does nothing until opened.
class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Opens (creating) `path` for appending. False with a message in `error`.
  bool open(const std::string& path, std::string& error);

  // Appends `line` and "\n". Write failures are ignored: the transcript is a
  // test aid and must not change how the simulator answers.
  void record(const std::string& line);

 private:
  int fd_ = -1;
};

#endif  // ZUBDM_TOOLS_CLI_SIM_TRANSCRIPT_H
