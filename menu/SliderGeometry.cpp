// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/SliderGeometry.hpp"

#include <algorithm>
#include <cmath>

#include "base/Numbers.hpp"

namespace {
double fractionAt(double x, double width) { return std::clamp(width >= 1 ? x / width : x, 0.0, 1.0); }
}  // namespace

double SliderGeometry::trackWidth() const { return std::max(width - 2 * inset - (showsValue ? valueTextWidth : 0), 1.0); }

double SliderGeometry::valueAt(double x) const {
  return roundHalfAwayFromZero(fractionAt(x - inset, trackWidth()) * 100);
}

Rect SliderGeometry::trackRect() const { return {inset, height / 2 - trackHeight / 2, trackWidth(), trackHeight}; }

Rect SliderGeometry::fillRect(double value) const {
  Rect fill = trackRect();
  fill.width = std::max(trackWidth() * value / 100, 0.0);
  return fill;
}

Rect SliderGeometry::knobRect(double value) const {
  const double centre = inset + trackWidth() * value / 100;
  return {centre - knobWidth / 2, height / 2 - knobHeight / 2, knobWidth, knobHeight};
}

Point SliderGeometry::valueTextTopRight() const { return {width, height / 2 - 7}; }

double RangeGeometry::span() const { return std::max(100 - lowerBound, 1.0); }
double RangeGeometry::usableWidth() const { return std::max(width - 2 * inset, 1.0); }
double RangeGeometry::position(double value) const { return (value - lowerBound) / span() * usableWidth() + inset; }

double RangeGeometry::valueAt(double x) const {
  return roundHalfAwayFromZero(lowerBound + fractionAt(x - inset, width - 2 * inset) * (100 - lowerBound));
}

bool RangeGeometry::pressTakesMinimum(double x, double minimum, double maximum) const {
  const double atMinimum = position(minimum);
  const double atMaximum = position(maximum);
  if (atMinimum == atMaximum) return x < atMinimum;
  return std::fabs(x - atMinimum) < std::fabs(x - atMaximum);
}

Rect RangeGeometry::trackRect() const { return {inset, trackTop, usableWidth(), trackHeight}; }

Rect RangeGeometry::selectedRect(double minimum, double maximum) const {
  const double left = position(minimum);
  return {left, trackTop, std::max(position(maximum) - left, 0.0), trackHeight};
}

Rect RangeGeometry::handleRect(double value) const {
  return {position(value) - handleWidth / 2, handleTop, handleWidth, handleHeight};
}
