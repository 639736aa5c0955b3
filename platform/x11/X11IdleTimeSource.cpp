// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/X11IdleTimeSource.hpp"

#include "base/MainLoop.hpp"

X11IdleTimeSource::X11IdleTimeSource(X11IdleTime& idle, MainLoop& loop, bool xwayland)
    : idle_(idle), loop_(loop), xwayland_(xwayland) {
  reached_ = idle_.reached.connect([this] { reachDelivery_ = loop_.post([this] { reach_.fire(); }); });
  resumed_ = idle_.resumed.connect([this] {
    if (back_.isArmed()) backDelivery_ = loop_.post([this] { back_.fire(); });
  });
}

std::optional<double> X11IdleTimeSource::idleSeconds() {
  if (xwayland_) return std::nullopt;
  return idle_.secondsSinceLastInput();
}

ScheduledWork X11IdleTimeSource::whenIdleReaches(double seconds, std::function<void()> reached) {
  auto handle = reach_.arm(std::move(reached));
  // The server answers at once when the counter is past the length already.
  if (!xwayland_) idle_.armReach(seconds);
  return handle;
}

ScheduledWork X11IdleTimeSource::whenUserReturns(std::function<void()> back) {
  auto handle = back_.arm(std::move(back));
  if (!xwayland_ && !idle_.armResume() && idle_.isAvailable())
    backDelivery_ = loop_.post([this] { back_.fire(); });
  return handle;
}
