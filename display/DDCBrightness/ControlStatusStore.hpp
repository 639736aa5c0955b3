// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "base/DisplayID.hpp"
#include "base/Published.hpp"

// Status strings double as the localization keys the menu shows them under.
namespace ControlStatus {
inline constexpr std::string_view hardware = "control_hardware";
inline constexpr std::string_view gamma = "control_gamma";
inline constexpr std::string_view failed = "control_failed";
// Dimmed through gamma meanwhile: the monitor's brightness is being read, or
// it does not answer DDC/CI at all (switched off in its own menu, or asleep).
inline constexpr std::string_view reading = "control_reading";
inline constexpr std::string_view ddcSilent = "control_ddc_silent";
// The kernel gives the monitor no DDC/CI bus (a virtual output, a dock that does not pass it on).
inline constexpr std::string_view noBus = "control_no_bus";
// Driven in hardware, but the monitor never reported its brightness: its maximum is taken as 100.
inline constexpr std::string_view maximumAssumed = "control_maximum_assumed";
// Failures the user can fix; their texts say how.
inline constexpr std::string_view i2cMissing = "control_i2c_missing";        // the i2c-dev module is not loaded
inline constexpr std::string_view i2cPermission = "control_i2c_permission";  // no access to /dev/i2c-N
inline constexpr std::string_view kernelDriver = "control_ddcci_driver";     // the kernel's ddcci driver owns the monitor
inline constexpr std::string_view backlightPermission = "control_backlight_permission";  // the panel's backlight may not be set
inline constexpr std::string_view gammaFailed = "control_gamma_failed";
inline constexpr std::string_view gammaUnsupported = "control_gamma_unsupported";  // the desktop offers no gamma
// The compositor refused the output's gamma: another program holds it, or the output takes no tables.
inline constexpr std::string_view gammaRefused = "control_gamma_refused";
// GNOME's compositor gives the display no CRTC (a virtual or headless monitor).
inline constexpr std::string_view gammaNoCrtc = "control_gamma_no_crtc";
inline constexpr std::string_view gammaRevoked = "control_gamma_revoked";  // taken back while Dimmora held it
inline constexpr std::string_view unchecked = "control_unchecked";  // no outcome recorded yet
}  // namespace ControlStatus

// The last control outcome per display, shared by the controllers that
// produce it and the menu that shows it.
class ControlStatusStore {
 public:
  static ControlStatusStore& shared();

  Published<std::map<DisplayID, std::string>> states;

  // Stores the status; an unchanged status causes no change notification.
  void set(std::string_view status, DisplayID displayID);
  // The stored status, or "control_unchecked" when none is recorded.
  std::string status(DisplayID displayID) const;
  // Forgets every display at once (one notification). Tests call it between cases.
  void clear();
};
