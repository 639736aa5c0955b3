// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cmath>
#include <string>

// Levels are percents compared within this tolerance.
inline constexpr double kLevelTolerance = 0.001;

inline bool nearlyEqual(double a, double b, double tolerance = kLevelTolerance) {
  return std::fabs(a - b) <= tolerance;
}

// A percent as a level is used: within 0...100, and full when it is no finite
// number, since an unknown level must never darken a screen.
inline double sanitizedPercent(double percent) {
  return std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 100.0;
}

// Halves go away from zero (2.5 -> 3, -2.5 -> -3), as the product's rules say.
inline double roundHalfAwayFromZero(double value) { return std::round(value); }

// Shortest text that reads back to the same value ("24", "0.1", "1e+308").
std::string formatShortest(double value);
std::string formatShortest(float value);
