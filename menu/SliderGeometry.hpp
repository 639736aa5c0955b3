// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/Geometry.hpp"

// Where the custom single-value slider draws its parts and which value a
// pointer position means. Pixels in the widget's own coordinates.
struct SliderGeometry {
  static constexpr double inset = 4;             // track starts this far from the left edge
  static constexpr double valueTextWidth = 42;   // room kept for "100%" when the value shows
  static constexpr double intrinsicHeight = 25;
  static constexpr double trackHeight = 9;
  static constexpr double knobWidth = 4;
  static constexpr double knobHeight = 17;
  static constexpr double knobRadius = 1.5;
  static constexpr double disabledFillAlpha = 0.45;

  double width = 0;  // the widget's width
  double height = intrinsicHeight;
  bool showsValue = false;

  double trackWidth() const;  // at least 1
  // 0...100, whole numbers: the value under the pointer's x.
  double valueAt(double x) const;
  Rect trackRect() const;
  Rect fillRect(double value) const;
  Rect knobRect(double value) const;
  // The "35%" text: its right edge is the widget's right edge, its top at mid-height minus 7.
  Point valueTextTopRight() const;
  static double fillAlpha(bool disabled) { return disabled ? disabledFillAlpha : 1; }
};

// The two-handle range editor of a display: the track spans the safety
// minimum (left end) to 100 (right end).
struct RangeGeometry {
  static constexpr double inset = 4;
  static constexpr double intrinsicHeight = 44;
  static constexpr double trackTop = 8;
  static constexpr double trackHeight = 10;
  static constexpr double handleTop = 4;
  static constexpr double handleWidth = 4;
  static constexpr double handleHeight = 18;
  static constexpr double handleRadius = 1.5;
  static constexpr double captionTop = 29;

  double width = 0;
  double lowerBound = 5;  // the store's safety minimum

  double span() const;         // 100 - lowerBound, at least 1
  double usableWidth() const;  // width - 8, at least 1
  double position(double value) const;
  double valueAt(double x) const;  // whole numbers, lowerBound...100
  // Which handle a press at x takes: the minimum when both coincide and x is
  // left of them, otherwise the nearer one (a tie goes to the maximum).
  bool pressTakesMinimum(double x, double minimum, double maximum) const;
  Rect trackRect() const;
  Rect selectedRect(double minimum, double maximum) const;
  Rect handleRect(double value) const;
};
