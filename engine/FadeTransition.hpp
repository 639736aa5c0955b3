// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/AppConfig.hpp"

// A running fade from one logical level down to another. Times are the main
// loop's monotonic seconds, so a wall clock set back cannot stall a fade.
struct FadeTransition {
  double from = 0;
  double to = 0;
  double startedAt = 0;
  double duration = 0;  // seconds, more than kMinimumFadeDuration when created
};

// Durations at or below this mean "no fade": the level jumps.
inline constexpr double kMinimumFadeDuration = 0.001;

// The eased fraction of the way for progress p in [0, 1]; e(0) = 0, e(1) = 1.
double easedProgress(FadeCurve curve, double p);
