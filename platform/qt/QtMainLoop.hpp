// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <chrono>
#include <functional>

#include "base/MainLoop.hpp"

// The main loop on Qt's event loop: timers are QTimers whose kind follows the
// tolerance the caller allows (coarse timers let the system batch wake-ups),
// posted work is a queued call.
class QtMainLoop final : public MainLoop {
 public:
  QtMainLoop();
  ~QtMainLoop() override;

  WallClock::time_point now() const override { return WallClock::now(); }
  double uptime() const override;

  ScheduledWork after(double seconds, std::function<void()> work) override;
  ScheduledWork every(double interval, double tolerance, std::function<void()> work) override;
  ScheduledWork post(std::function<void()> work) override;

  // The timer kind for an interval and tolerance, in seconds.
  static Qt::TimerType timerTypeFor(double interval, double tolerance);

 private:
  ScheduledWork start(double interval, Qt::TimerType type, bool repeating, std::function<void()> work);

  QObject context_;
  std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
};
