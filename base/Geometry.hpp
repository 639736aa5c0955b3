// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Points and rectangles in pixels, origin at the top left, y growing downwards
// (the desktop's and Qt's convention).
struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double left() const { return x; }
  double top() const { return y; }
  double right() const { return x + width; }
  double bottom() const { return y + height; }
  friend bool operator==(const Rect&, const Rect&) = default;
};
