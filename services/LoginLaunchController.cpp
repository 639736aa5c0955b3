// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/LoginLaunchController.hpp"

#include <utility>

#include "ports/SystemPorts.hpp"

namespace {
// Runs one registration change on the system's service, looked up at call time.
std::optional<std::string> changeRegistration(bool (LoginItemService::*operation)(std::string&)) {
  LoginItemService* service = systemPorts().loginItems;
  if (!service) return std::string(LoginLaunchController::unavailableText);
  std::string error;
  if ((service->*operation)(error)) return std::nullopt;
  return error;
}
}  // namespace

LoginLaunchController::LoginLaunchController()
    : LoginLaunchController(
          [] {
            const LoginItemService* service = systemPorts().loginItems;
            return service ? service->status() : Status::notFound;
          },
          [] { return changeRegistration(&LoginItemService::registerItem); },
          [] { return changeRegistration(&LoginItemService::unregisterItem); }) {}

LoginLaunchController::LoginLaunchController(ReadStatus readStatus, Operation registerItem, Operation unregisterItem)
    : readStatus_(std::move(readStatus)), register_(std::move(registerItem)), unregister_(std::move(unregisterItem)) {
  refresh();
}

void LoginLaunchController::refresh() {
  const Status status = readStatus_();
  enabled = status == Status::enabled || status == Status::requiresApproval;
  needsApproval = status == Status::requiresApproval;
}

void LoginLaunchController::setEnabled(bool enable) {
  error = std::nullopt;
  if (auto failure = enable ? register_() : unregister_()) error = std::move(*failure);
  refresh();
}
