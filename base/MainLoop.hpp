// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

using WallClock = std::chrono::system_clock;

namespace detail {
struct WorkState {
  bool cancelled = false;
  std::function<void()> onCancel;  // lets a binding stop its own timer
  // A one-shot that ran: it reports itself inactive and lets go of its cancel action.
  void markDone() {
    cancelled = true;
    onCancel = nullptr;
  }
};
}  // namespace detail

// Handle to scheduled work. Destroying it cancels the work, so an owner that
// holds its handles can never be called back after it is gone. detach() lets
// fire-and-forget work outlive the handle.
class ScheduledWork {
 public:
  ScheduledWork() = default;
  explicit ScheduledWork(std::shared_ptr<detail::WorkState> state) : state_(std::move(state)) {}
  // Work that runs elsewhere (on other work, on another thread): cancelling
  // it runs `onCancel`, which may keep state alive until then.
  static ScheduledWork cancelling(std::function<void()> onCancel) {
    auto state = std::make_shared<detail::WorkState>();
    state->onCancel = std::move(onCancel);
    return ScheduledWork(std::move(state));
  }
  ScheduledWork(const ScheduledWork&) = delete;
  ScheduledWork& operator=(const ScheduledWork&) = delete;
  ScheduledWork(ScheduledWork&& other) noexcept = default;
  ScheduledWork& operator=(ScheduledWork&& other) noexcept {
    if (this != &other) {
      cancel();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  ~ScheduledWork() { cancel(); }

  void cancel() {
    if (!state_) return;
    if (!state_->cancelled) {
      state_->cancelled = true;
      if (state_->onCancel) std::exchange(state_->onCancel, nullptr)();
    }
    state_.reset();
  }
  void detach() { state_.reset(); }
  // True while the work is scheduled and not cancelled (a fired one-shot is
  // reported by the loop through the shared state as cancelled).
  bool isActive() const { return state_ && !state_->cancelled; }

 private:
  std::shared_ptr<detail::WorkState> state_;
};

// The main thread's run loop: clocks, timers and posted work. Everything the
// core schedules runs on this one thread.
class MainLoop {
 public:
  virtual ~MainLoop() = default;

  // Wall-clock time (pauses "until 21:30" are wall-clock times).
  virtual WallClock::time_point now() const = 0;
  // Monotonic seconds since some fixed origin.
  virtual double uptime() const = 0;

  // Runs work once, `seconds` from now.
  [[nodiscard]] virtual ScheduledWork after(double seconds, std::function<void()> work) = 0;
  // Runs work every `interval` seconds; the loop may be late by up to `tolerance` seconds.
  [[nodiscard]] virtual ScheduledWork every(double interval, double tolerance, std::function<void()> work) = 0;
  // Runs work on a later turn of the loop, after what is already queued.
  [[nodiscard]] virtual ScheduledWork post(std::function<void()> work) = 0;
};
