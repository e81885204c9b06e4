#ifndef ZUBDM_CONTEXT_ZUBCONTEXTBUILDER_H
#define ZUBDM_CONTEXT_ZUBCONTEXTBUILDER_H

#include <zubdm/ZubdmExport.h>

#include <map>
#include <string>
#include <vector>

#include <zubdm/context/Context.h>

namespace ZUB_DEVICE_MEDIATION {

// The fixed table of the element CLI's modes, and the commands that lead from
// any mode into a mode given by name.
//
// The table is built by the constructor and only read afterwards, so calls
// with distinct output lists may run concurrently without a lock.
class ZUBDM_EXPORT ZUBContextBuilder {
 public:
  // Command texts published for callers; the library itself reads END_CLI
  // and ROOT_CONTEXT. Built before every other static object of the library.
  static std::string CONFIG1;
  static std::string CONFIG2;
  static std::string CONFIG3;
  static std::string SHOW;
  static std::string VIRTUAL_ROUTER;
  static std::string VR_ROOT;
  static std::string VR;
  static std::string VR_CREATE;
  static std::string END_CLI;
  static std::string ROOT_CONTEXT;

  ZUBContextBuilder();

  // Appends to `out`, after whatever it holds, the commands that lead into
  // the mode `contextName`, in the reverse order of use: the mode's own entry
  // command first (followed by one blank and `argument` when `argument` is
  // not empty), the root's "end" last. `prefix`, when not empty, goes with
  // one blank in front of every appended command whose mode takes it.
  // The root mode yields no command and an empty name yields "end"; both
  // return 1. A name not in the table (names match exactly) is logged and
  // yields 0; what was appended before stays. An argument or prefix holding
  // "\n", "\r" or NUL is refused the same way, appending nothing: it would
  // end the mode command's line early and run the rest as a command.
  int getContextCLI(std::vector<std::string>& out,
                    const std::string& contextName, const std::string& argument,
                    const std::string& prefix) const;

  // ROOT_CONTEXT and END_CLI.
  std::string getRootContext() const;
  std::string getRootCLI() const;

  // The names of the modes getContextCLI knows, in byte order.
  std::vector<std::string> knownContexts() const;
  // Whether mode `contextName` is entered with a name (an interface's, a
  // controller's): the modes below the configuration mode are.
  bool takesArgument(const std::string& contextName) const;
  // Whether `line`, typed in mode `current` as on the element, moves the CLI
  // to another mode: then true, with that mode in `contextName` and, for a
  // mode entered with a name, the name as typed (without the blanks around
  // it) in `argument`. The mode lines are "configure terminal" (or "config",
  // "c"), "end", "exit" (one step towards the root), and, from the
  // configuration mode or a mode below it, a named mode's entry command
  // followed by the name ("interface A").
  bool modeEnteredBy(const std::string& line, const std::string& current,
                     std::string& contextName, std::string& argument) const;

  // The commands of a getContextCLI list in the order they are sent,
  // without the root command "end" that the list ends with.
  static std::vector<std::string> inOrderOfUse(const std::vector<std::string>& contextCommands);

 private:
  std::map<std::string, Context> contextTable_;
};

}  // namespace ZUB_DEVICE_MEDIATION

#endif  // ZUBDM_CONTEXT_ZUBCONTEXTBUILDER_H
