// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Registration of this application as a program started at login.
class LoginItemService {
 public:
  enum class Status {
    notRegistered = 0,
    enabled = 1,
    requiresApproval = 2,  // registered, but the user must allow it in the system's settings
    notFound = 3,
  };

  virtual ~LoginItemService() = default;
  virtual Status status() const = 0;
  // Both return false and fill `error` with the system's text when refused.
  virtual bool registerItem(std::string& error) = 0;
  virtual bool unregisterItem(std::string& error) = 0;
  // Whether the system has a settings page where login items are approved.
  virtual bool hasSystemSettingsLoginItems() const = 0;
  // Opens the system's settings where login items are approved; false when there is none.
  virtual bool openSystemSettingsLoginItems() = 0;
};
