// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "ports/LoginItemService.hpp"

// A login-item registration held in memory. Registering enables it (or leaves
// it awaiting approval when the test says so); a set failure text refuses.
class SimLoginItemService final : public LoginItemService {
 public:
  Status current = Status::notRegistered;
  bool registrationNeedsApproval = false;
  std::optional<std::string> refuseWith;
  bool hasSettings = true;  // false: a system without a login-items settings page
  int settingsOpened = 0;

  Status status() const override { return current; }
  bool registerItem(std::string& error) override {
    if (refuseWith) return (error = *refuseWith, false);
    current = registrationNeedsApproval ? Status::requiresApproval : Status::enabled;
    return true;
  }
  bool unregisterItem(std::string& error) override {
    if (refuseWith) return (error = *refuseWith, false);
    current = Status::notRegistered;
    return true;
  }
  bool hasSystemSettingsLoginItems() const override { return hasSettings; }
  bool openSystemSettingsLoginItems() override {
    if (!hasSettings) return false;
    ++settingsOpened;
    return true;
  }
};
