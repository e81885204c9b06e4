#ifndef ZUBDM_TOOLS_ZUBDM_SLOTSCOMMAND_H
#define ZUBDM_TOOLS_ZUBDM_SLOTSCOMMAND_H

#include <cstdio>

// `zubdm slots`: lists the entries of the CLI user table in use (slot, user
// type, the process recorded in it and whether it is alive, the pipe files
// present); with `freeStale`, frees this library's entries that no host
// holds (ending first a CLI still running for one), says per entry what
// was done or why it stays, and removes the pipe files of those freed.
// Returns the exit status.
int runSlots(bool freeStale, std::FILE* out);

#endif  // ZUBDM_TOOLS_ZUBDM_SLOTSCOMMAND_H
