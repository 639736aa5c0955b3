// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/VirtualMainLoop.hpp"

#include <algorithm>
#include <chrono>

VirtualMainLoop::VirtualMainLoop(WallClock::time_point start) : wallClock_(start) {}

ScheduledWork VirtualMainLoop::schedule(double due, double interval, double tolerance, std::function<void()> work) {
  auto state = std::make_shared<detail::WorkState>();
  entries_.push_back(std::make_unique<Entry>(Entry{due, ++sequence_, interval, tolerance, std::move(work), state}));
  return ScheduledWork(state);
}

ScheduledWork VirtualMainLoop::after(double seconds, std::function<void()> work) {
  return schedule(uptime_ + std::max(0.0, seconds), 0, 0, std::move(work));
}

ScheduledWork VirtualMainLoop::every(double interval, double tolerance, std::function<void()> work) {
  // A non-positive interval would spin forever; treat it as "as soon as possible".
  const double step = interval > 0 ? interval : 1e-9;
  return schedule(uptime_ + step, step, tolerance, std::move(work));
}

ScheduledWork VirtualMainLoop::post(std::function<void()> work) {
  if (std::this_thread::get_id() == thread_) return schedule(uptime_, 0, 0, std::move(work));
  auto state = std::make_shared<detail::WorkState>();
  std::lock_guard lock(postedMutex_);
  posted_.emplace_back(std::move(work), state);
  return ScheduledWork(state);
}

void VirtualMainLoop::adoptPosted() {
  std::lock_guard lock(postedMutex_);
  for (auto& [work, state] : posted_)
    entries_.push_back(std::make_unique<Entry>(Entry{uptime_, ++sequence_, 0, 0, std::move(work), std::move(state)}));
  posted_.clear();
}

VirtualMainLoop::Entry* VirtualMainLoop::nextDue(double limit) {
  adoptPosted();
  std::erase_if(entries_, [](const auto& e) { return e->state->cancelled; });
  Entry* best = nullptr;
  for (const auto& e : entries_) {
    if (e->due > limit) continue;
    if (!best || e->due < best->due || (e->due == best->due && e->sequence < best->sequence)) best = e.get();
  }
  return best;
}

void VirtualMainLoop::advance(double seconds) {
  const double target = uptime_ + std::max(0.0, seconds);
  while (Entry* entry = nextDue(target)) {
    const double delta = entry->due - uptime_;
    if (delta > 0) {
      uptime_ = entry->due;
      wallClock_ += std::chrono::duration_cast<WallClock::duration>(std::chrono::duration<double>(delta));
    }
    auto state = entry->state;
    auto work = entry->work;  // the entry may be erased by what the work does
    if (entry->interval > 0) {
      entry->due += entry->interval;
      entry->sequence = ++sequence_;
    } else {
      state->cancelled = true;  // a fired one-shot is no longer active
    }
    work();
  }
  const double rest = target - uptime_;
  uptime_ = target;
  wallClock_ += std::chrono::duration_cast<WallClock::duration>(std::chrono::duration<double>(rest));
}

void VirtualMainLoop::shiftWallClock(std::chrono::duration<double> delta) {
  wallClock_ += std::chrono::duration_cast<WallClock::duration>(delta);
}

std::vector<VirtualMainLoop::Repeating> VirtualMainLoop::activeRepeatingTimers() const {
  std::vector<Repeating> timers;
  for (const auto& e : entries_)
    if (e->interval > 0 && !e->state->cancelled) timers.push_back({e->interval, e->tolerance});
  return timers;
}

std::size_t VirtualMainLoop::pendingCount() const {
  std::lock_guard lock(postedMutex_);
  return posted_.size() + static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(),
                                                                  [](const auto& e) { return !e->state->cancelled; }));
}
