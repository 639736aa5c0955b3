// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/LoginLaunchController.hpp"

#include "ports/Autostart.hpp"
#include "ports/SystemPorts.hpp"

LoginLaunchController::LoginLaunchController() { refresh(); }

Autostart* LoginLaunchController::autostart() { return systemPorts().autostart; }

void LoginLaunchController::refresh() {
  const Autostart* service = autostart();
  enabled = service && service->isEnabled();
}

void LoginLaunchController::setEnabled(bool enable) {
  error = std::nullopt;
  if (Autostart* service = autostart()) {
    if (auto failure = enable ? service->enable() : service->disable()) error = std::move(failure->detail);
  } else {
    error = std::string(unavailableText);
  }
  refresh();
}
