// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/BrightnessSafety.hpp"

#include <algorithm>
#include <cmath>

#include "base/Numbers.hpp"

double BrightnessSafety::normalizedSafetyMinimum(double value) {
  if (!std::isfinite(value)) return defaultMinimum;
  if (value < 3) return minimumOptions.front();
  return std::clamp(roundHalfAwayFromZero(value / 5) * 5, 5.0, minimumOptions.back());
}
