#ifndef ZUBDM_TOOLS_ZUBDM_MODETRACKER_H
#define ZUBDM_TOOLS_ZUBDM_MODETRACKER_H

#include <optional>
#include <string>
#include <vector>

#include <zubdm/zubdm.h>

// The mode the next command runs in, as the shell and the batch runner
// follow it: a mode name with its argument (and a prefix for its entry
// commands), or a ready-made context command. Mode commands typed as on the
// element ("configure terminal", "interface A", "exit", "end", as the
// context table tells them) move it; nothing is sent for them: the library
// enters the mode before each command. Borrows the context table.
class ModeTracker {
 public:
  explicit ModeTracker(const ZUB_DEVICE_MEDIATION::ZUBContextBuilder& table);

  // Enters `mode`. False, with a message and nothing changed, when the mode
  // is unknown (the message lists the known ones), or its argument is
  // missing, not one word, or given to a mode that takes none.
  bool enter(const std::string& mode, const std::optional<std::string>& argument,
             const std::string& prefix, std::string& error);
  void useContextCommand(const std::string& command);

  enum class Line { kCommand, kModeCommand, kRefused, kHeldBack };
  // Follows `line` when it is a mode command from the current mode
  // (kModeCommand); kCommand for a line to send. kRefused, with a message,
  // for a malformed mode command ("interface A B") and for every mode
  // command while a ready-made context command is in use (-c: the mode is
  // not known). kHeldBack, with a message, after a refused one, until a
  // mode is entered again, for every line but a mode command that does not
  // depend on the mode it was meant for ("exit" does): those lines were
  // meant for a mode that was not entered, and are not sent.
  Line follow(const std::string& line, std::string& error);

  // The lines written before each command: "end", then the mode's entry
  // commands in order of use.
  std::vector<std::string> lines() const;
  // What forwardCliCommand takes: the entry commands as the context table
  // lists them, or the ready-made context command (one of them empty).
  const std::vector<std::string>& contextCommands() const { return contextCommands_; }
  const std::string& contextCommand() const { return contextCommand_; }
  // "root", "config", "config-if A", ... or the context command in use.
  const std::string& label() const { return label_; }

 private:
  std::string argumentError(const std::string& mode,
                            const std::optional<std::string>& argument) const;

  const ZUB_DEVICE_MEDIATION::ZUBContextBuilder& table_;
  std::string mode_ = "root";
  std::vector<std::string> contextCommands_;
  std::string contextCommand_;
  std::string label_ = "root";
  // The mode line refused last, while no mode has been entered since.
  std::string refused_;
};

#endif  // ZUBDM_TOOLS_ZUBDM_MODETRACKER_H
