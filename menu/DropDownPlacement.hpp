// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/Geometry.hpp"
#include "menu/MenuLayout.hpp"

// Where the window first appears beside the tray icon: below it, centred on
// it, when the panel is in the upper half of the screen; above it when the
// panel is at the bottom. The corner next to the icon is inside the screen's
// available area; the height rules then fit the window to the room beyond it.
struct DropDownPlacement {
  static constexpr double gap = 4;  // between the icon and the window

  MenuWindowAnchor::Direction direction = MenuWindowAnchor::Direction::down;
  Point origin;  // the window's top-left corner
};

// `icon`: the tray icon's rectangle on screen (a point-sized one where only
// the pointer is known); `available`: the area of the screen that holds it.
DropDownPlacement dropDownPlacement(const Rect& icon, double windowWidth, double windowHeight, const Rect& available);
