// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimIdleTime.hpp"

#include <algorithm>

#include "base/MainLoop.hpp"

SimIdleTime::SimIdleTime(MainLoop& loop) : loop_(loop), lastInputAt_(loop.uptime()) {}

std::optional<double> SimIdleTime::idleSeconds() {
  ++queries_;
  if (failing_) return std::nullopt;
  return loop_.uptime() - lastInputAt_;
}

ScheduledWork SimIdleTime::whenIdleReaches(double seconds, std::function<void()> reached) {
  reachSeconds_ = seconds;
  auto handle = reach_.arm(std::move(reached));
  scheduleReach();
  return handle;
}

void SimIdleTime::scheduleReach() {
  reachTimer_.cancel();
  if (!reach_.isArmed() || failing_) return;
  const double due = std::max(0.0, reachSeconds_ - (loop_.uptime() - lastInputAt_));
  reachTimer_ = loop_.after(due, [this] { reach_.fire(); });
}

ScheduledWork SimIdleTime::whenUserReturns(std::function<void()> back) {
  auto handle = back_.arm(std::move(back));
  if (!failing_ && loop_.uptime() == lastInputAt_) backDelivery_ = loop_.post([this] { back_.fire(); });
  return handle;
}

void SimIdleTime::registerInput() {
  lastInputAt_ = loop_.uptime();
  scheduleReach();
  if (back_.isArmed() && !failing_) backDelivery_ = loop_.post([this] { back_.fire(); });
}

void SimIdleTime::setIdleSeconds(double seconds) {
  lastInputAt_ = loop_.uptime() - seconds;
  scheduleReach();
}

void SimIdleTime::setFailing(bool failing) {
  if (failing_ == failing) return;
  failing_ = failing;
  scheduleReach();
  changed.emit();
}

void SimIdleTime::setNote(std::string key) {
  noteKey_ = std::move(key);
  changed.emit();
}
