// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/Signal.hpp"

// The window's shared glass transparency (percent, 0 opaque ... 100 clear).
// Every glass card follows it; each change is published on `changes`.
class GlassAppearance {
 public:
  static constexpr double defaultPercent = 35;

  double percent() const { return percent_; }
  // Clamps to 0...100 (a non-finite value gives the default) and publishes
  // the new value when it differs from the current one.
  void setPercent(double percent);

  Signal<double> changes;

 private:
  double percent_ = defaultPercent;
};

// 0...100; 35 for anything that is not a finite number.
double clampedGlassTransparency(double percent);

// What a glass card draws for a transparency: a translucent backdrop, a tint of
// the palette's control background and a border of its secondary text colour.
struct GlassValues {
  double effectAlpha;  // the backdrop (blur or window colour)
  double tintAlpha;    // the control-background tint
  double borderAlpha;  // the one-pixel border
  double borderWidth;
};
GlassValues glassValues(double percent);

// The pop-up buttons' hover surface: a rounded rectangle filled with the text
// colour and outlined in the accent colour while the pointer is over it.
struct HoverSurfaceValues {
  double cornerRadius;
  double fillOpacity;      // of the palette's text colour
  bool borderUsesAccent;   // else the text colour
  double borderOpacity;
  double borderWidth;
};
HoverSurfaceValues hoverSurfaceValues(bool hovering);
