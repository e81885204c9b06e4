#ifndef ZUBDM_TOOLS_ZUBDM_PROCESSPROBE_H
#define ZUBDM_TOOLS_ZUBDM_PROCESSPROBE_H

// True when process `pid` exists and has not ended: a zombie (ended, not yet
// reaped by its parent) counts as ended. Reads /proc; never signals or
// reaps. False for a pid <= 0.
bool processRunning(int pid);

#endif  // ZUBDM_TOOLS_ZUBDM_PROCESSPROBE_H
