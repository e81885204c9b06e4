#ifndef ZUBDM_TOOLS_ZUBDM_EXITSTATUS_H
#define ZUBDM_TOOLS_ZUBDM_EXITSTATUS_H

// The zubdm command's exit statuses; a run ended by signal N exits 128+N.
const int kExitSuccess = 0;
const int kExitFailed = 1;  // a command failed, or --find found nothing
const int kExitUsage = 2;   // bad usage, no connection, output not written
const int kExitSignalBase = 128;

#endif  // ZUBDM_TOOLS_ZUBDM_EXITSTATUS_H
