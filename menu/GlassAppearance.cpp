// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/GlassAppearance.hpp"

#include <algorithm>
#include <cmath>

double clampedGlassTransparency(double percent) {
  if (!std::isfinite(percent)) return GlassAppearance::defaultPercent;
  return std::clamp(percent, 0.0, 100.0);
}

void GlassAppearance::setPercent(double percent) {
  const double value = clampedGlassTransparency(percent);
  if (value == percent_) return;
  percent_ = value;
  changes.emit(value);
}

GlassValues glassValues(double percent) {
  const double opacity = 1 - clampedGlassTransparency(percent) / 100;
  return {.effectAlpha = opacity, .tintAlpha = opacity * 0.65, .borderAlpha = opacity * 0.18 + 0.12, .borderWidth = 1};
}

HoverSurfaceValues hoverSurfaceValues(bool hovering) {
  return {.cornerRadius = 6,
          .fillOpacity = hovering ? 0.16 : 0.10,
          .borderUsesAccent = hovering,
          .borderOpacity = hovering ? 0.85 : 0.25,
          .borderWidth = 1};
}
