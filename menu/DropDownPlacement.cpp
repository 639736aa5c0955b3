// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/DropDownPlacement.hpp"

#include <algorithm>

namespace {
// Within [low, high]; at `low` when the span is too short to hold the window.
double fit(double value, double low, double high) { return std::max(low, std::min(value, high)); }
}  // namespace

DropDownPlacement dropDownPlacement(const Rect& icon, double windowWidth, double windowHeight, const Rect& available) {
  DropDownPlacement placement;
  const double iconMiddle = icon.y + icon.height / 2;
  const bool opensUp = iconMiddle > available.y + available.height / 2;
  placement.direction = opensUp ? MenuWindowAnchor::Direction::up : MenuWindowAnchor::Direction::down;
  const double x = icon.x + icon.width / 2 - windowWidth / 2;
  // The corner next to the icon stays; the window's height is then fitted to the room beyond it.
  const double y = opensUp ? std::max(available.top(), icon.y - DropDownPlacement::gap - windowHeight)
                           : fit(icon.bottom() + DropDownPlacement::gap, available.top(),
                                 available.bottom() - MenuWindowAnchor::minimumAvailableHeight);
  placement.origin = {fit(x, available.left(), available.right() - windowWidth), y};
  return placement;
}
