// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "ports/InputMonitors.hpp"

// Seconds since the last input event of one type in the combined session.
class IdleTimeSource {
 public:
  virtual ~IdleTimeSource() = default;
  // nullopt when the system cannot answer.
  virtual std::optional<double> secondsSinceLastEvent(InputEventType type) const = 0;
};
