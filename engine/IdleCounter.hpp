// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/Published.hpp"

// Whole seconds of idle time, shown by the menu while it is open.
class IdleCounter {
 public:
  Published<double> seconds{0.0};
};
