#include "Mode.h"

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
  if (name == "root") {
    mode = Mode::kRoot;
  } else if (name == "config") {
    mode = Mode::kConfig;
  } else if (name == "config-if") {
    mode = Mode::kConfigIf;
  } else if (name == "config-controller") {
    mode = Mode::kConfigController;
  } else {
    return false;
  }
  return true;
}
