#include "Mode.h"

#include "NameTable.h"

std::string promptFor(Mode mode) {
  switch (mode) {
    case Mode::kConfig:
      return "HVB(config)#";
    case Mode::kConfigIf:
      return "HVB(config-if)#";
    case Mode::kConfigController:
      return "HVB(config-controller)#";
    case Mode::kRoot:
      break;
  }
  return "HVB#";
}

Mode parentOf(Mode mode) {
  switch (mode) {
    case Mode::kConfigIf:
    case Mode::kConfigController:
      return Mode::kConfig;
    case Mode::kConfig:
    case Mode::kRoot:
      break;
  }
  return Mode::kRoot;
}

bool modeFromName(const std::string& name, Mode& mode) {
  static const std::pair<const char*, Mode> kModes[] = {
      {"root", Mode::kRoot},
      {"config", Mode::kConfig},
      {"config-if", Mode::kConfigIf},
      {"config-controller", Mode::kConfigController},
  };
  return valueOfName(name, kModes, mode);
}
