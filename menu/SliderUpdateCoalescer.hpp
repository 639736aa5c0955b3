// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <limits>

#include "base/MainLoop.hpp"

// Spaces a drag's deliveries: the first runs at once, later ones at most once
// per interval (only the newest waiting one runs), and flush() runs the last
// one at once (mouse up). Destroying the coalescer cancels a scheduled delivery.
class SliderUpdateCoalescer {
 public:
  static constexpr double defaultInterval = 1.0 / 30;

  explicit SliderUpdateCoalescer(MainLoop& loop, double interval = defaultInterval)
      : loop_(loop), interval_(interval) {}
  SliderUpdateCoalescer(const SliderUpdateCoalescer&) = delete;
  SliderUpdateCoalescer& operator=(const SliderUpdateCoalescer&) = delete;

  void submit(std::function<void()> action);
  void flush();
  // Drops the waiting action without running it.
  void cancel();

  bool hasPending() const { return static_cast<bool>(pending_); }
  double interval() const { return interval_; }

 private:
  MainLoop& loop_;
  std::function<void()> pending_;
  ScheduledWork workItem_;
  double lastUpdate_ = -std::numeric_limits<double>::infinity();
  double interval_;
};
