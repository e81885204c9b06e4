#ifndef ZUBDM_TOOLS_CLI_SIM_MODE_H
#define ZUBDM_TOOLS_CLI_SIM_MODE_H

#include <string>

// The simulated CLI's modes and the prompt each one shows.
enum class Mode { kRoot, kConfig, kConfigIf, kConfigController };

// "HVB#", "HVB(config)#", "HVB(config-if)#" or "HVB(config-controller)#".
std::string promptFor(Mode mode);

// The mode one "exit" leads to; the root stays the root.
Mode parentOf(Mode mode);

// Maps "root", "config", "config-if" and "config-controller" to their mode.
// Returns false for any other name and leaves `mode` unchanged.
bool modeFromName(const std::string& name, Mode& mode);

#endif  // ZUBDM_TOOLS_CLI_SIM_MODE_H
