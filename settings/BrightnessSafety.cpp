// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/BrightnessSafety.hpp"

#include <algorithm>
#include <cmath>

#include "base/Numbers.hpp"

double BrightnessSafety::normalizedSafetyMinimum(double value) {
  if (!std::isfinite(value)) return 5;
  if (value < 3) return 1;
  return std::clamp(roundHalfAwayFromZero(value / 5) * 5, 5.0, 50.0);
}
