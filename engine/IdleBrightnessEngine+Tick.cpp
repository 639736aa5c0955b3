// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include "engine/IdleBrightnessEngine.hpp"
#include "ports/IdleTimeSource.hpp"
#include "services/AppLog.hpp"
#include "services/PowerAssertionMonitor.hpp"
#include "settings/StepStore.hpp"

namespace {
// The desktop's answer; nullopt when there is none (or a nonsensical one).
std::optional<double> systemIdleSeconds(IdleTimeSource* source) {
  if (!source) return std::nullopt;
  const auto seconds = source->idleSeconds();
  if (!seconds || std::isnan(*seconds)) return std::nullopt;
  return seconds;
}
}  // namespace

double IdleBrightnessEngine::effectiveIdleSeconds(double now) const {
  return combinedIdleSeconds(now, systemIdleSeconds(ports_.idleTime));
}

double IdleBrightnessEngine::combinedIdleSeconds(double now, std::optional<double> systemIdle) const {
  // A dimmer that cannot see input must not dim: without an answer the user counts as present.
  if (!systemIdle) return 0;
  const double programIdle = now - lastActivityAt_;
  return *systemIdle < programIdle ? *systemIdle : programIdle;
}

void IdleBrightnessEngine::noteIdleTimeAvailability(bool available, std::string_view note) {
  if (idleTimeNote.get() != note) assignPublished(idleTimeNote, std::string(note));
  if (idleTimeAvailable.get() == available) return;
  if (available)
    AppLog::app.log("The desktop reports idle time again: automatic dimming is back on");
  else
    AppLog::app.error("The desktop reports no idle time: automatic dimming is off until it does");
  assignPublished(idleTimeAvailable, available);
}

double IdleBrightnessEngine::stepLevel(double idleSeconds) const {
  // The step with the largest threshold not above the idle time; of equal
  // thresholds the one stored last. Same result as walking a stable sort
  // backwards, without sorting on every tick. Steps without a usable number
  // (an unchecked edit) define no level.
  const IdleStep* chosen = nullptr;
  for (const auto& step : stepStore_->steps()) {
    if (std::isnan(step.idleSeconds) || !std::isfinite(step.brightnessPercent)) continue;
    if (step.idleSeconds > idleSeconds) continue;
    if (!chosen || step.idleSeconds >= chosen->idleSeconds) chosen = &step;
  }
  return chosen ? sanitizedPercent(chosen->brightnessPercent) : 100.0;
}

double IdleBrightnessEngine::targetBrightness(double idleSeconds) const {
  if (recoveryActive_) return 100;
  if (pauseUntil.get()) return manualPercent();
  if (stepStore_->pauseDuringMediaPlayback.get() && powerAssertionMonitor_->isMediaPlaybackAssertionActive.get())
    return baseBrightnessAtZeroIdle();
  return stepLevel(idleSeconds) * manualPercent() / 100;
}

double IdleBrightnessEngine::baseBrightnessAtZeroIdle() const { return stepLevel(0) * manualPercent() / 100; }

void IdleBrightnessEngine::updateIdleCounter(double idleSeconds) {
  if (!menuIsVisible_) return;
  const double whole = std::floor(idleSeconds);
  const double value = whole > 0 ? whole : 0;  // negative and NaN show 0
  if (idleCounter.seconds.get() != value) idleCounter.seconds = value;
}

void IdleBrightnessEngine::resetIdleCounter() {
  if (menuIsVisible_ && idleCounter.seconds.get() != 0) idleCounter.seconds = 0;
}

void IdleBrightnessEngine::moveTowardsTarget(double now) {
  if (currentBrightnessPercent_ < targetBrightnessPercent_) {
    // Brightening never fades.
    currentBrightnessPercent_ = targetBrightnessPercent_;
    publishMasterBrightness();
    fadeTransition_.reset();
  } else if (currentBrightnessPercent_ > targetBrightnessPercent_) {
    updateFadeTransitionIfNeeded(now);
    currentBrightnessPercent_ = interpolatedBrightness(now);
    publishMasterBrightness();
  } else if (fadeTransition_ && now - fadeTransition_->startedAt < fadeTransition_->duration) {
    currentBrightnessPercent_ = interpolatedBrightness(now);
    publishMasterBrightness();
  } else {
    fadeTransition_.reset();
  }
}

void IdleBrightnessEngine::evaluate(double now, bool onlyWhenChanged) {
  const auto systemIdle = systemIdleSeconds(ports_.idleTime);
  const IdleTimeSource* source = ports_.idleTime;
  noteIdleTimeAvailability(systemIdle.has_value(), source ? source->note() : std::string_view());
  const double idle = combinedIdleSeconds(now, systemIdle);
  noteUserAway(idle);
  updateIdleCounter(idle);
  targetBrightnessPercent_ = targetBrightness(idle);
  // A preview or a restore holds the displays where they were put.
  if (previewBrightnessPercent_ || recoveryActive_) return;
  if (onlyWhenChanged) {
    moveTowardsTarget(now);
    if (!lastHandedOverLevel_ || std::fabs(currentBrightnessPercent_ - *lastHandedOverLevel_) > kLevelTolerance)
      applyLevel(currentBrightnessPercent_);
    return;
  }
  if (currentBrightnessPercent_ <= targetBrightnessPercent_) {
    currentBrightnessPercent_ = targetBrightnessPercent_;
    publishMasterBrightness();
    fadeTransition_.reset();
  } else {
    updateFadeTransitionIfNeeded(now);
    currentBrightnessPercent_ = interpolatedBrightness(now);
    publishMasterBrightness();
  }
  applyLevel(currentBrightnessPercent_);
}

void IdleBrightnessEngine::tick() {
  const double now = this->now();
  if (pauseUntil.get() && wallNow() >= *pauseUntil.get()) {
    // The idle clock restarts at the end of a pause, however late this tick
    // comes to see it.
    const double overdue = std::chrono::duration<double>(wallNow() - *pauseUntil.get()).count();
    assignPublished(pauseUntil, std::optional<WallClock::time_point>{});
    recoveryActive_ = false;
    lastActivityAt_ = now - std::min(overdue, now - lastActivityAt_);
  }
  evaluate(now, true);
  schedule();
}

void IdleBrightnessEngine::applyCurrentBrightness() {
  evaluate(now(), false);
  schedule();
}

void IdleBrightnessEngine::schedule() {
  if (!started_) return;
  std::optional<double> interval;
  if (fadeTransition_ && !previewBrightnessPercent_) {
    // The store keeps the rate in its range; anything else read here is
    // treated the same way, so a bad value can neither stall nor flood the loop.
    interval = 1.0 / Setting::frameRate.clamped(stepStore_->frameRate.get());
  } else if (constantTick_) {
    interval = kConstantTickInterval;
  }
  if (!interval) {
    timerCancellable_.cancel();
    timerInterval_.reset();
    armRestingWakes();
    return;
  }
  restingWake_.cancel();
  idleReached_.cancel();
  userReturned_.cancel();
  if (timerInterval_ == interval) return;
  timerCancellable_.cancel();
  timerInterval_ = interval;
  timerCancellable_ = ports_.mainLoop.every(*interval, *interval * 0.1, [this] { tick(); });
}

void IdleBrightnessEngine::wakeSoon() {
  if (!started_ || constantTick_ || pendingWake_.isActive()) return;
  pendingWake_ = ports_.mainLoop.post([this] { tick(); });
}

bool IdleBrightnessEngine::mediaPlaybackHoldsTheLevel() const {
  return stepStore_->pauseDuringMediaPlayback.get() && powerAssertionMonitor_->isMediaPlaybackAssertionActive.get();
}

std::optional<double> IdleBrightnessEngine::nextThreshold(double idleSeconds) const {
  std::optional<double> next;
  for (const auto& step : stepStore_->steps()) {
    if (!std::isfinite(step.idleSeconds) || !std::isfinite(step.brightnessPercent)) continue;
    if (step.idleSeconds > idleSeconds && (!next || step.idleSeconds < *next)) next = step.idleSeconds;
  }
  return next;
}

void IdleBrightnessEngine::armRestingWakes() {
  const double now = this->now();
  const auto systemIdle = systemIdleSeconds(ports_.idleTime);
  const double idle = combinedIdleSeconds(now, systemIdle);
  std::optional<double> wakeIn;
  const auto soonest = [&wakeIn](double seconds) { wakeIn = std::min(wakeIn.value_or(seconds), seconds); };
  idleReached_.cancel();
  userReturned_.cancel();
  IdleTimeSource* source = ports_.idleTime;
  if (const auto& until = pauseUntil.get()) {
    soonest(std::max(0.0, std::chrono::duration<double>(*until - wallNow()).count()) + kWakeSlack);
  } else if (systemIdle && source && !previewBrightnessPercent_ && !mediaPlaybackHoldsTheLevel()) {
    // (A preview holds the displays where it put them, whatever the idle time.)
    // The idle time counts from the later of the desktop's last input and the program's own.
    // The user's going away is a moment too: the controller reads the displays then.
    auto next = nextThreshold(idle);
    if (!userAway_) next = std::min(next.value_or(kUserAwaySeconds), kUserAwaySeconds);
    if (next) {
      if (*systemIdle + kWakeSlack < *next)
        idleReached_ = source->whenIdleReaches(*next, [this] { tick(); });
      else
        soonest(*next - idle + kWakeSlack);
    }
    // Input brings a dimmed level back at once, and after a step has passed it
    // starts the steps' count again; once away, the user's return is the next moment.
    const auto firstThreshold = nextThreshold(0);
    if (userAway_ || currentBrightnessPercent_ < baseBrightnessAtZeroIdle() - kLevelTolerance ||
        (firstThreshold && idle >= *firstThreshold))
      userReturned_ = source->whenUserReturns([this] { tick(); });
  }
  if (menuIsVisible_) soonest(std::floor(idle) + 1 - idle + kWakeSlack);  // the counter's next whole second
  // Whatever just changed may call for another level (a fade down from a new
  // manual level): the next evaluation starts it.
  if (!previewBrightnessPercent_ && !recoveryActive_ &&
      !nearlyEqual(currentBrightnessPercent_, targetBrightness(idle)))
    wakeSoon();
  if (wakeIn)
    restingWake_ = ports_.mainLoop.after(*wakeIn, [this] { tick(); });
  else
    restingWake_.cancel();
}
