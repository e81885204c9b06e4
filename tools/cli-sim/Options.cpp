#include "Options.h"

#include <cstdlib>
#include <cstring>

namespace {

const int kMaxIndex = 99999;

std::string fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Accepts decimal digits only, at most kMaxIndex.
bool parseIndex(const char* text, int& index) {
  if (*text == '\0' || std::strlen(text) > 5) return false;
  int value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  if (value > kMaxIndex) return false;
  index = value;
  return true;
}

}  // namespace

bool Options::parse(int argc, char** argv, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      help = true;
      return true;
    }
    if (arg == "-n" && i + 1 < argc) {
      if (!parseIndex(argv[++i], index)) {
        error = std::string("bad slot index: ") + argv[i];
        return false;
      }
      continue;
    }
    error = "unexpected argument: " + arg;
    return false;
  }
  if (index < 0) {
    error = "missing -n INDEX";
    return false;
  }
  const std::string dir = fromEnvironment("ZUBDM_CLI_PIPE_DIR");
  if (!dir.empty()) pipeDir = dir.back() == '/' ? dir : dir + "/";
  scenarioPath = fromEnvironment("ZUBDM_CLI_SCENARIO");
  transcriptPath = fromEnvironment("ZUBDM_CLI_TRANSCRIPT");
  strict = fromEnvironment("ZUBDM_CLI_STRICT") == "1";
  return true;
}

std::string Options::inputPipe() const {
  return pipeDir + "clPipeW" + std::to_string(index);
}

std::string Options::outputPipe() const {
  return pipeDir + "clPipeR" + std::to_string(index);
}

const char* Options::usage() {
  return "Usage: cli -n INDEX\n"
         "       cli --help\n"
         "\n"
         "Element CLI simulator. Reads commands from <dir>clPipeW<INDEX> and\n"
         "writes replies to <dir>clPipeR<INDEX>; both pipes must exist.\n"
         "Login \"root\", password \"tquvz\"; prompts HVB#, HVB(config)#,\n"
         "HVB(config-if)#, HVB(config-controller)#.\n"
         "\n"
         "Environment:\n"
         "  ZUBDM_CLI_PIPE_DIR    pipe directory (default /tmp/)\n"
         "  ZUBDM_CLI_SCENARIO    JSON scenario file\n"
         "  ZUBDM_CLI_TRANSCRIPT  file that receives every input line "
         "(overrides\n"
         "                        the scenario's \"transcript\")\n"
         "  ZUBDM_CLI_STRICT=1    a command that the scenario does not answer gets\n"
         "                        the error \"not in the recording: ...\" instead of\n"
         "                        the built-in reply (a strict replay)\n"
         "\n"
         "Scenario keys:\n"
         "  fault          exit_at_once | exit_at_login | never_prompt |\n"
         "                 exit_after_login\n"
         "  echo           true: echo each command line before its output\n"
         "  prompt_suffix  text written right after the prompt's \"#\"\n"
         "  terminal_echo  true: echo each line as a terminal shows it (bytes\n"
         "                 unchanged, no command number), when it is read\n"
         "  typed_ahead_echo true: also echo input that arrives while a reply\n"
         "                 is being written, there and then\n"
         "  help_key       true: \"?\" prints help and redraws the prompt with\n"
         "                 the text typed so far, which stays typed\n"
         "  percent_errors true: errors as \"% Unknown command: ...\" lines\n"
         "  prompt_like_names true: interface \"HVB-x#1\" and the plain-text\n"
         "                 \"show interface brief\" that lists it\n"
         "  login_delay_ms pause before \"Login:\"\n"
         "  transcript     transcript file path\n"
         "  commands       { \"exact command\": {\n"
         "                     reply | reply_hex, raw, repeat, delay_ms,\n"
         "                     write_chunk, then_mode, late,\n"
         "                     fault: die_mid_reply | close_output | hang |\n"
         "                            endless | exit | stop_reading } }\n"
         "  exchanges      [ { command, reply spec keys }, ... ] played in order\n"
         "\n"
         "Exit status: 0 at end of input, on SIGTERM or when the reader is\n"
         "gone; 1 for an injected fault or an I/O failure; 2 for bad usage\n"
         "or a bad scenario; 3 for fault exit_at_once.\n";
}
