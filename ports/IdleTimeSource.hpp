// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "base/MainLoop.hpp"
#include "base/Signal.hpp"

// The session's idle time: seconds since the last input of any kind, as the
// desktop sees it for every client. Besides the answer on demand, a source
// tells of two moments by itself, so that nobody has to ask over and over:
// when the idle time reaches a length, and when the user is back.
//
// Each request runs its callback at most once, on the main loop; destroying
// or cancelling its handle drops it. A source keeps one request of each kind:
// a new one replaces the last. A source without an answer runs none.
class IdleTimeSource {
 public:
  virtual ~IdleTimeSource() = default;

  // nullopt when the desktop cannot answer now.
  virtual std::optional<double> idleSeconds() = 0;
  // When the idle time reaches `seconds` (at once if it already has). Input
  // before then postpones it.
  [[nodiscard]] virtual ScheduledWork whenIdleReaches(double seconds, std::function<void()> reached) = 0;
  // At the first input after now (at once if input is going on now).
  [[nodiscard]] virtual ScheduledWork whenUserReturns(std::function<void()> back) = 0;

  // What the user should know about the answers, as a localization key: why
  // there are none although the desktop could give them, or that an
  // application keeps the screen awake. Empty when there is nothing to say.
  virtual std::string_view note() const { return {}; }

  // Whether there is an answer, or the note, may have changed.
  Signal<> changed;
};

// One pending request of an idle source: the callback, and the state its
// handle shares, which says whether it was cancelled.
class IdleRequest {
 public:
  ScheduledWork arm(std::function<void()> callback) {
    state_ = std::make_shared<detail::WorkState>();
    callback_ = std::move(callback);
    return ScheduledWork(state_);
  }
  bool isArmed() const { return state_ && !state_->cancelled; }
  // Runs the callback if still wanted; the request is spent either way.
  void fire() {
    if (!isArmed()) return;
    state_->cancelled = true;
    state_.reset();
    std::exchange(callback_, nullptr)();
  }

 private:
  std::shared_ptr<detail::WorkState> state_;
  std::function<void()> callback_;
};
