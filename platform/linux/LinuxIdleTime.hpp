// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/linux/X11Input.hpp"
#include "ports/IdleTimeSource.hpp"

// X11 keeps one idle counter for all input; every event type reads it.
class LinuxIdleTime final : public IdleTimeSource {
 public:
  explicit LinuxIdleTime(X11IdleTime& idle) : idle_(idle) {}
  std::optional<double> secondsSinceLastEvent(InputEventType) const override { return idle_.secondsSinceLastInput(); }

 private:
  X11IdleTime& idle_;
};
