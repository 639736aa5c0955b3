// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/GammaRamps.hpp"

#include <algorithm>
#include <cmath>

float gammaFraction(std::uint16_t entry) { return static_cast<float>(entry) / 65535.0f; }

std::uint16_t gammaEntry(float fraction) {
  if (!std::isfinite(fraction)) return 0;
  return static_cast<std::uint16_t>(std::lround(std::clamp(fraction, 0.0f, 1.0f) * 65535.0f));
}
