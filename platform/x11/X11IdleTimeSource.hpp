// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/x11/X11Input.hpp"
#include "ports/IdleTimeSource.hpp"

class MainLoop;

// The X server's one idle counter for all input, with its alarms as the
// source's notifications. XWayland's counter sees only the input of X11
// clients: under XWayland the counter is never read, and the answer stays
// unknown with a note saying why.
class X11IdleTimeSource final : public IdleTimeSource {
 public:
  X11IdleTimeSource(X11IdleTime& idle, MainLoop& loop, bool xwayland);

  std::optional<double> idleSeconds() override;
  ScheduledWork whenIdleReaches(double seconds, std::function<void()> reached) override;
  ScheduledWork whenUserReturns(std::function<void()> back) override;
  std::string_view note() const override { return xwayland_ ? "idle_time_xwayland" : std::string_view(); }

 private:
  X11IdleTime& idle_;
  MainLoop& loop_;
  bool xwayland_;
  IdleRequest reach_;
  IdleRequest back_;
  // Alarms arrive while Xlib's events are handled; the callbacks run after that.
  ScheduledWork reachDelivery_;
  ScheduledWork backDelivery_;
  Subscription reached_;
  Subscription resumed_;
};
