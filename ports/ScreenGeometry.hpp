// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "base/Geometry.hpp"

// The screens' usable areas.
class ScreenGeometry {
 public:
  virtual ~ScreenGeometry() = default;
  // The primary screen's area without panels and docks; nullopt without a screen.
  virtual std::optional<Rect> mainScreenAvailableArea() const = 0;
};
