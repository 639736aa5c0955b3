// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/LoginLaunchController.hpp"

#include "ports/Autostart.hpp"

LoginLaunchController::LoginLaunchController(Autostart* autostart) : autostart_(autostart) { refresh(); }

void LoginLaunchController::refresh() {
  const Autostart* service = autostart_;
  enabled = service && service->isEnabled();
}

void LoginLaunchController::setEnabled(bool enable) {
  error = std::nullopt;
  if (Autostart* service = autostart_) {
    if (auto failure = enable ? service->enable() : service->disable()) error = std::move(failure->detail);
  } else {
    error = std::string(unavailableText);
  }
  refresh();
}
