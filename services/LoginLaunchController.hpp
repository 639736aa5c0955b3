// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/Published.hpp"
#include "ports/LoginItemService.hpp"

// Whether the application starts at login, as the system's login-item
// registration reports it. Nothing of it is kept in the settings file.
class LoginLaunchController {
 public:
  using Status = LoginItemService::Status;
  using ReadStatus = std::function<Status()>;
  // Returns the failure's text, or nullopt on success.
  using Operation = std::function<std::optional<std::string>()>;

  // Talks to the system's login-item service (systemPorts().loginItems).
  LoginLaunchController();
  LoginLaunchController(ReadStatus readStatus, Operation registerItem, Operation unregisterItem);

  void refresh();
  void setEnabled(bool enable);

  Published<bool> enabled{false};        // registered, approved or awaiting approval
  Published<bool> needsApproval{false};  // the user must allow it in the system's settings
  Published<std::optional<std::string>> error;

  static constexpr const char* unavailableText = "Launch at login is not available on this system.";

 private:
  ReadStatus readStatus_;
  Operation register_;
  Operation unregister_;
};
