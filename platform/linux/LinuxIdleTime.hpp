// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/linux/X11Input.hpp"
#include "ports/IdleTimeSource.hpp"

// X11 keeps one idle counter for all input; every event type reads it.
// XWayland's counter sees only the input of X11 clients: under XWayland the
// counter is never read, and the answer stays unknown with a note saying why.
class LinuxIdleTime final : public IdleTimeSource {
 public:
  LinuxIdleTime(X11IdleTime& idle, bool xwayland) : idle_(idle), xwayland_(xwayland) {}
  std::optional<double> secondsSinceLastEvent(InputEventType) const override {
    if (xwayland_) return std::nullopt;
    return idle_.secondsSinceLastInput();
  }
  std::string_view note() const override { return xwayland_ ? "idle_time_xwayland" : std::string_view(); }

 private:
  X11IdleTime& idle_;
  bool xwayland_;
};
