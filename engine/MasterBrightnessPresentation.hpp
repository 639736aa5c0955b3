// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/Published.hpp"

// The level the master slider shows; during a step preview it keeps showing
// the level from before the preview.
class MasterBrightnessPresentation {
 public:
  Published<double> percent{100.0};
};
