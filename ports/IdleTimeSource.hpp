// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

#include "ports/InputMonitors.hpp"

// Seconds since the last input event of one type in the combined session.
class IdleTimeSource {
 public:
  virtual ~IdleTimeSource() = default;
  // nullopt when the system cannot answer.
  virtual std::optional<double> secondsSinceLastEvent(InputEventType type) const = 0;
  // What the user should know about the answers, as a localization key: why
  // there are none although the desktop could give them, or that an
  // application keeps the screen awake. Empty when there is nothing to say.
  virtual std::string_view note() const { return {}; }
};
