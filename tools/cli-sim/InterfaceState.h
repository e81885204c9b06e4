#ifndef ZUBDM_TOOLS_CLI_SIM_INTERFACESTATE_H
#define ZUBDM_TOOLS_CLI_SIM_INTERFACESTATE_H

#include <string>

// Configured state of one simulated interface; the operational state
// follows the administrative one.
struct InterfaceState {
  bool adminUp = true;
  std::string description;
};

#endif  // ZUBDM_TOOLS_CLI_SIM_INTERFACESTATE_H
