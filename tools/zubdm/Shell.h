#ifndef ZUBDM_TOOLS_ZUBDM_SHELL_H
#define ZUBDM_TOOLS_ZUBDM_SHELL_H

#include "Options.h"
#include "Session.h"

// Interactive session: line editing and history, a prompt that shows the
// mode the commands run in, and ':' helpers (:find, :values, :mode, :json,
// :help, :quit). Mode commands typed as on the element ("configure terminal",
// "interface A", "exit", "end") change the shell's mode; every other line is
// run in that mode. Returns the exit status.
int runShell(Session& session, const Options& options);

#endif  // ZUBDM_TOOLS_ZUBDM_SHELL_H
