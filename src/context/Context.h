#ifndef ZUBDM_CONTEXT_CONTEXT_H
#define ZUBDM_CONTEXT_CONTEXT_H

#include <zubdm/ZubdmExport.h>

#include <string>
#include <vector>

// One mode of the element's CLI: its name, the name of the mode one step
// nearer the root, the command that enters this mode from there, and whether
// that command is always sent without a caller's prefix. Prompt texts may be
// attached; nothing in the library reads them back.
//
// A plain value, copied freely; owns all its fields.
class ZUBDM_EXPORT Context {
 public:
  Context();
  Context(std::string topContext, std::string nextContext,
          std::string changeContextCLI, bool noTx);

  // Overwrites the three texts and the flag; the prompts stay.
  void initTx(std::string topContext, std::string nextContext,
              std::string changeContextCLI, bool noTx);
  // Overwrites the three texts; the flag and the prompts stay.
  void init(std::string topContext, std::string nextContext,
            std::string changeContextCLI);
  void pushPrompt(std::string prompt);

  std::string getTopContext() const;
  std::string getNextContext() const;
  std::string getChangeContextCLI() const;
  bool isNoTx() const;
  // The prompts attached with pushPrompt, in order.
  const std::vector<std::string>& getPrompts() const;

 private:
  std::string topContext_;
  std::string nextContext_;
  std::string changeContextCLI_;
  bool noTx_;
  std::vector<std::string> prompts_;
};

#endif  // ZUBDM_CONTEXT_CONTEXT_H
