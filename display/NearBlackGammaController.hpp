// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/Signal.hpp"
#include "ports/GammaTables.hpp"

class SystemNotifications;

// Darkens a display beyond its hardware range by scaling its gamma table:
// "assist" below 12 % on a display that is also driven in hardware, "full"
// for a display dimmed by gamma alone. Each display's original table is
// captured on its first change and put back when the display no longer needs
// it, leaves the driven set, or the application quits.
class NearBlackGammaController {
 public:
  // Below this actual level a hardware-driven display gets gamma help.
  static constexpr double kAssistThresholdPercent = 12;

  // Without gamma tables no display is dimmed through gamma (each is marked
  // as having none); without notifications the tables are not put back when
  // the application is told to quit.
  struct Ports {
    GammaTables* gamma = nullptr;
    SystemNotifications* notifications = nullptr;
  };
  explicit NearBlackGammaController(const Ports& ports);
  NearBlackGammaController(const NearBlackGammaController&) = delete;
  NearBlackGammaController& operator=(const NearBlackGammaController&) = delete;

  // Actual levels are the unrounded per-display percents of the brightness
  // controller; the safety minimum is the raw setting.
  void apply(const std::map<DisplayID, double>& actualBrightnessPercentByDisplay,
             const std::set<DisplayID>& activeDisplayIDs, const std::set<DisplayID>& fullGammaDisplayIDs,
             double safetyMinimumPercent);
  // Puts back every table this controller changed.
  void restoreAll();

  // The factor for a display's table, or nothing when it should show its
  // original table.
  static std::optional<double> scale(double actualPercent, bool fullMode, double safetyMinimumPercent);

  // Why a display cannot be dimmed through the given gamma tables (the
  // controller's own, without them), as a control-status key (also its
  // localization key); nullopt when it can. The window shows it where it
  // offers full-gamma mode.
  static std::optional<std::string> unavailableReason(GammaTables* gamma, DisplayID displayID);
  std::optional<std::string> unavailableReason(DisplayID displayID) const {
    return unavailableReason(gamma_, displayID);
  }

  const std::map<DisplayID, GammaTable>& savedTables() const { return savedTables_; }
  const std::map<DisplayID, double>& appliedScales() const { return appliedScales_; }

 private:
  void restore(DisplayID displayID);
  bool capture(DisplayID displayID);
  void applyScale(DisplayID displayID, double scale, std::string_view mode);
  void handleWillTerminate() { restoreAll(); }
  // The system rebuilt a table of ours: keep its new one as the original and dim over it again.
  void handleOriginalReplaced(DisplayID displayID);

  GammaTables* gamma_;
  std::map<DisplayID, GammaTable> savedTables_;
  std::map<DisplayID, double> appliedScales_;
  Subscription willTerminate_;
  Subscription originalReplaced_;
};
