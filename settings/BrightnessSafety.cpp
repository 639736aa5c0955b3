// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/BrightnessSafety.hpp"

#include <algorithm>
#include <cmath>

#include "base/Numbers.hpp"
#include "settings/AppConfig.hpp"

double BrightnessSafety::normalizedSafetyMinimum(double value) {
  const auto& row = Setting::safetyMinimumPercent;
  if (!std::isfinite(value)) return row.defaultValue;
  if (value < 3) return row.minimum;
  return std::clamp(roundHalfAwayFromZero(value / 5) * 5, 5.0, row.maximum);
}
