// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "base/MainLoop.hpp"

class HUDPanel;

// The brief heads-up panel shown when a brightness shortcut changes the
// master level: title, whole percent and a bar, hidden 0.9 s after the last show.
class ShortcutHUD {
 public:
  static constexpr double hideDelay = 0.9;
  static constexpr double topMargin = 28;  // between the top of the screen's visible frame and the panel

  static ShortcutHUD& shared();
  // The panel it shows and the loop that hides it again, given once at start.
  // Without a panel nothing is shown; without a loop the panel stays up.
  static void usePorts(HUDPanel* panel, MainLoop* loop);
  // Forgets the built panel and any pending hide (the ports stay).
  static void resetForTesting();

  void show(const std::string& title, double percent);

  // "42%": the percent clamped to 0...100 and rounded, halves away from zero.
  static std::string valueText(double percent);

 private:
  ShortcutHUD() = default;
  static double clamped(double percent);

  HUDPanel* window_ = nullptr;
  ScheduledWork hideWorkItem_;
};
