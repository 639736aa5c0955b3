// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "base/Published.hpp"

class Autostart;

// Whether the application starts at login, as the desktop's autostart entry
// says. Nothing of it is kept in the settings file.
class LoginLaunchController {
 public:
  // Without an autostart service it is off and a change reports it unavailable.
  explicit LoginLaunchController(Autostart* autostart);

  void refresh();
  void setEnabled(bool enable);

  Published<bool> enabled{false};
  // The last change's failure in the system's words; cleared by the next change.
  Published<std::optional<std::string>> error;

  static constexpr const char* unavailableText = "Launch at login is not available on this system.";

 private:
  Autostart* autostart_;
};
