// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <cmath>

#include "display/DDCBrightness/BrightnessController.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "ports/InputMonitors.hpp"
#include "ports/SystemNotifications.hpp"
#include "services/AppLog.hpp"
#include "settings/StepStore.hpp"

void IdleBrightnessEngine::installEventMonitors() {
  InputMonitors* monitors = ports_.inputMonitors;
  if (!monitors || globalEventMonitor_.isConnected() || localEventMonitor_.isConnected()) return;
  // The global monitor may be called off the main thread: it only posts.
  std::weak_ptr<const int> alive = alive_;
  globalEventMonitor_ = monitors->addGlobalMonitor([alive, &loop = ports_.mainLoop, this](const InputEvent& event) {
    loop.post([alive, this, event] {
          if (!alive.lock()) return;
          if (!handleBrightnessKeyShortcut(event)) handleUserActivity();
        })
        .detach();
  });
  localEventMonitor_ = monitors->addLocalMonitor([this](const InputEvent& event) {
    if (handleBrightnessKeyShortcut(event)) return true;  // swallowed
    handleUserActivity();
    return false;
  });
  // Wayland shows no client another's input: the idle source tells when the user is back.
  if (!globalEventMonitor_.isConnected())
    AppLog::app.log("No desktop-wide input monitor: input elsewhere is heard through the idle time");
}

void IdleBrightnessEngine::installWorkspaceObservers() {
  SystemNotifications* notifications = ports_.notifications;
  if (!notifications || !workspaceObservers_.empty()) return;
  // Synchronous, so a pending shortcut save is written before the process ends.
  workspaceObservers_.push_back(notifications->willTerminate.connect([this] { finishShortcutEdit(); }));
  workspaceObservers_.push_back(notifications->willSleep.connect(
      [this] { postIfAlive([](IdleBrightnessEngine& engine) { engine.handleWillSleep(); }); }));
  workspaceObservers_.push_back(notifications->didWake.connect([this] {
    postIfAlive([](IdleBrightnessEngine& engine) {
      engine.displayStore_->refresh();
      engine.started_ = true;
      engine.handleUserActivity();
      engine.schedule();
    });
  }));
}

void IdleBrightnessEngine::noteUserAway(double idleSeconds) {
  const bool away = idleSeconds >= kUserAwaySeconds;
  if (away == userAway_) return;
  userAway_ = away;
  brightnessController_->setUserAway(away);
}

void IdleBrightnessEngine::handleUserActivity() {
  lastActivityAt_ = now();
  noteUserAway(0);
  if (recoveryActive_) return;
  if (previewBrightnessPercent_) {
    resetIdleCounter();
    return;
  }
  if (idleCounter.seconds.get() == 0 && !fadeTransition_ &&
      nearlyEqual(currentBrightnessPercent_, baseBrightnessAtZeroIdle()))
    return;
  resetIdleCounter();
  brightnessBeforeStepPreview_.reset();
  publishMasterBrightness();
  targetBrightnessPercent_ = targetBrightness(0);
  fadeTransition_.reset();
  schedule();
  if (std::fabs(targetBrightnessPercent_ - currentBrightnessPercent_) > kLevelTolerance) {
    currentBrightnessPercent_ = targetBrightnessPercent_;
    publishMasterBrightness();
    applyLevel(currentBrightnessPercent_);
  }
}

void IdleBrightnessEngine::clearPreviews() {
  previewBrightnessPercent_.reset();
  brightnessBeforeStepPreview_.reset();
  displayPreview_.reset();
  publishMasterBrightness();
}

void IdleBrightnessEngine::handleWillSleep() {
  finishShortcutEdit();
  clearPreviews();
  fadeTransition_.reset();
  // Nothing runs while asleep; the wake observer starts again.
  started_ = false;
  timerCancellable_.cancel();
  timerInterval_.reset();
  restingWake_.cancel();
  idleReached_.cancel();
  userReturned_.cancel();
}

void IdleBrightnessEngine::setMenuVisible(bool visible) {
  menuIsVisible_ = visible;
  if (visible) updateIdleCounter(effectiveIdleSeconds(now()));
  if (!fadeTransition_) schedule();  // the counter's second, or none
}

void IdleBrightnessEngine::setManualBrightness(double percent) {
  recoveryActive_ = false;
  clearPreviews();
  const double value = sanitizedPercent(percent);
  if (stepStore_->manualBrightnessPercent != value) {
    stepStore_->manualBrightnessPercent = value;
    stepStore_->requestSave();
  }
  lastActivityAt_ = now();
  fadeTransition_.reset();
  currentBrightnessPercent_ = manualPercent();
  publishMasterBrightness();
  // During a drag the level is held against automatic dimming.
  if (manualAdjustmentActive_) previewBrightnessPercent_ = currentBrightnessPercent_;
  targetBrightnessPercent_ = currentBrightnessPercent_;
  applyLevel(currentBrightnessPercent_);
  schedule();
}

void IdleBrightnessEngine::beginManualAdjustment() {
  if (manualAdjustmentActive_) return;
  manualAdjustmentActive_ = true;
  stepStore_->beginInteractiveEdit();
  setManualBrightness(stepStore_->manualBrightnessPercent);
}

void IdleBrightnessEngine::endManualAdjustment() {
  if (!manualAdjustmentActive_) return;
  manualAdjustmentActive_ = false;
  clearPreviews();
  stepStore_->endInteractiveEdit();
  lastActivityAt_ = now();
  schedule();
}

void IdleBrightnessEngine::restoreBrightness() {
  endManualAdjustment();
  clearPreviews();
  fadeTransition_.reset();
  recoveryActive_ = true;
  assignPublished(pauseUntil, std::optional<WallClock::time_point>{
                                  wallNow() + std::chrono::duration_cast<WallClock::duration>(
                                                  std::chrono::duration<double>(kRestoreHoldSeconds))});
  stepStore_->manualBrightnessPercent = 100;
  stepStore_->requestSave();
  lastActivityAt_ = now();
  resetIdleCounter();
  currentBrightnessPercent_ = 100;
  publishMasterBrightness();
  targetBrightnessPercent_ = 100;
  brightnessController_->restoreBrightness(targetDisplayIDs(), targetDisplayMaximumPercents(),
                                           targetDisplayFullGammaModes(), stepStore_->safetyMinimumPercent.get());
  schedule();
}

void IdleBrightnessEngine::resumeAutomaticDimming() {
  assignPublished(pauseUntil, std::optional<WallClock::time_point>{});
  recoveryActive_ = false;
  lastActivityAt_ = now();
  applyCurrentBrightness();
}

void IdleBrightnessEngine::pauseDimming(double minutes) {
  if (!(minutes > 0)) {
    AppLog::app.error("Ignored pause of a non-positive length");
    return;
  }
  recoveryActive_ = false;
  const std::chrono::duration<double> length(std::min(minutes, kLongestPauseMinutes) * 60);
  assignPublished(pauseUntil, std::optional<WallClock::time_point>{
                                  wallNow() + std::chrono::duration_cast<WallClock::duration>(length)});
  setManualBrightness(stepStore_->manualBrightnessPercent);
}
