// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class BacklightStatus {
  ok,
  noDevice,  // the device is gone or unreadable
  noAccess,  // neither the session nor the device file may set it
  failed,    // the write failed otherwise
};

// The kernel's backlight devices (/sys/class/backlight/<name>), by name.
class Backlights {
 public:
  virtual ~Backlights() = default;

  // The level as a fraction 0...1; nullopt when the device is gone or unreadable.
  virtual std::optional<double> level(const std::string& device) = 0;
  // How many levels above off the device has (its maximum); 0 when unknown.
  virtual std::uint32_t steps(const std::string& device) = 0;
  // Sets a fraction 0...1 of the device's range.
  virtual BacklightStatus setLevel(const std::string& device, double fraction) = 0;
};

// "ok", "no access", ...: for log lines.
inline const char* backlightStatusText(BacklightStatus status) {
  switch (status) {
    case BacklightStatus::ok: return "ok";
    case BacklightStatus::noDevice: return "no such device";
    case BacklightStatus::noAccess: return "no access";
    case BacklightStatus::failed: return "failed";
  }
  return "";
}
