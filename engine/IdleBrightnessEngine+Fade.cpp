// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>

#include "engine/IdleBrightnessEngine.hpp"
#include "settings/StepStore.hpp"

void IdleBrightnessEngine::updateFadeTransitionIfNeeded(double now) {
  double duration = stepStore_->fadeDurationSeconds.get();
  if (!(duration >= 0)) duration = 0;  // negative or NaN
  if (duration <= kMinimumFadeDuration) {
    currentBrightnessPercent_ = targetBrightnessPercent_;
    publishMasterBrightness();
    fadeTransition_.reset();
    return;
  }
  // Repeated ticks towards the same target must not restart the fade.
  if (fadeTransition_ && std::fabs(fadeTransition_->to - targetBrightnessPercent_) < kLevelTolerance &&
      std::fabs(fadeTransition_->duration - duration) < kLevelTolerance)
    return;
  const double from = fadeTransition_ ? interpolatedBrightness(now) : currentBrightnessPercent_;
  fadeTransition_ = FadeTransition{from, targetBrightnessPercent_, now, duration};
}

double IdleBrightnessEngine::interpolatedBrightness(double at) {
  if (!fadeTransition_) return targetBrightnessPercent_;
  const FadeTransition fade = *fadeTransition_;
  if (fade.duration <= kMinimumFadeDuration) {
    fadeTransition_.reset();
    return fade.to;
  }
  double progress = std::max(std::min((at - fade.startedAt) / fade.duration, 1.0), 0.0);
  if (std::isnan(progress)) progress = 1;
  const double eased = easedProgress(stepStore_->fadeCurve.get(), progress);
  if (progress >= 0.999) {
    // Snap to the end so the last frame lands exactly on the step.
    fadeTransition_.reset();
    return fade.to;
  }
  return fade.from + eased * (fade.to - fade.from);
}
