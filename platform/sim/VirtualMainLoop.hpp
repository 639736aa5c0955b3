// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/MainLoop.hpp"

// A main loop whose time moves only when a test advances it. Due work runs in
// time order (ties in the order it was scheduled), so timing is exact and
// tests never sleep. Work posted from another thread joins at the next turn.
class VirtualMainLoop final : public MainLoop {
 public:
  explicit VirtualMainLoop(WallClock::time_point start = WallClock::time_point(std::chrono::seconds(1'800'000'000)));

  WallClock::time_point now() const override { return wallClock_; }
  double uptime() const override { return uptime_; }

  ScheduledWork after(double seconds, std::function<void()> work) override;
  ScheduledWork every(double interval, double tolerance, std::function<void()> work) override;
  ScheduledWork post(std::function<void()> work) override;

  // Moves both clocks forward by `seconds`, running everything that falls due.
  void advance(double seconds);
  // Runs what is due now (posted work included) without moving the clocks.
  void runPending() { advance(0); }
  // Moves only the wall clock (a user or NTP changing the time), possibly backwards.
  void shiftWallClock(std::chrono::duration<double> delta);

  struct Repeating {
    double interval;
    double tolerance;
  };
  // The repeating timers that are still scheduled, for tests that check cadence.
  std::vector<Repeating> activeRepeatingTimers() const;
  std::size_t pendingCount() const;

 private:
  struct Entry {
    double due;
    std::uint64_t sequence;
    double interval;  // 0 for one-shot
    double tolerance;
    std::function<void()> work;
    std::shared_ptr<detail::WorkState> state;
  };
  ScheduledWork schedule(double due, double interval, double tolerance, std::function<void()> work);
  Entry* nextDue(double limit);
  // Takes in what other threads posted.
  void adoptPosted();

  WallClock::time_point wallClock_;
  double uptime_ = 0;
  std::uint64_t sequence_ = 0;
  std::vector<std::unique_ptr<Entry>> entries_;
  const std::thread::id thread_ = std::this_thread::get_id();
  mutable std::mutex postedMutex_;
  std::vector<std::pair<std::function<void()>, std::shared_ptr<detail::WorkState>>> posted_;
};
