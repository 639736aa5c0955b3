// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>

#include "display/DDCBrightness/BrightnessController.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "services/L10n.hpp"
#include "services/ShortcutHUD.hpp"
#include "settings/StepStore.hpp"

void IdleBrightnessEngine::previewBrightness(double percent) {
  recoveryActive_ = false;
  if (!previewBrightnessPercent_) {
    // The slider keeps showing the level from before the preview.
    brightnessBeforeStepPreview_ = currentBrightnessPercent_;
    publishMasterBrightness();
  }
  previewBrightnessPercent_ = sanitizedPercent(percent);
  fadeTransition_.reset();
  currentBrightnessPercent_ = *previewBrightnessPercent_;
  publishMasterBrightness();
  applyLevel(currentBrightnessPercent_);
  schedule();
}

void IdleBrightnessEngine::endBrightnessPreview() {
  clearPreviews();
  fadeTransition_.reset();
  if (idleCounter.seconds.get() != 0) idleCounter.seconds = 0;
  targetBrightnessPercent_ = targetBrightness(0);
  currentBrightnessPercent_ = targetBrightnessPercent_;
  publishMasterBrightness();
  applyLevel(currentBrightnessPercent_);
  schedule();
}

namespace {
bool fullGammaMode(const StepStore& store, DisplayID displayID) {
  const auto& modes = store.displayFullGammaModes.get();
  const auto it = modes.find(displayID);
  return it != modes.end() && it->second;
}
}  // namespace

void IdleBrightnessEngine::previewDisplayActualBrightness(double percent, DisplayID displayID) {
  recoveryActive_ = false;
  previewBrightnessPercent_ = currentBrightnessPercent_;
  fadeTransition_.reset();
  displayPreview_ = DisplayPreview{displayID, sanitizedPercent(percent)};
  applyDisplayPreview(displayID, displayPreview_->percent);
  schedule();
}

void IdleBrightnessEngine::endDisplayActualBrightnessPreview(DisplayID displayID) {
  clearPreviews();
  applyDisplayPreview(displayID, stepStore_->displayMaximumPercent(displayID));
  applyCurrentBrightness();
}

void IdleBrightnessEngine::applyDisplayPreview(DisplayID displayID, double percent) {
  const double safety = stepStore_->safetyMinimumPercent.get();
  const auto maximums = targetDisplayMaximumPercents();
  const auto minimums = targetDisplayMinimumPercents();
  auto targets = targetDisplayIDs();
  targets.insert(displayID);
  // Ranges collapsed to one value each, driven at 100 %: the previewed display
  // shows exactly `percent`, the others exactly what the current level gives them.
  std::map<DisplayID, double> levels;
  for (DisplayID id : targets) {
    levels[id] = id == displayID ? percent
                                 : DDCBrightnessController::actualLevel(
                                       currentBrightnessPercent_,
                                       DDCBrightnessController::displayRange(id, maximums, minimums, safety));
  }
  auto fullGamma = targetDisplayFullGammaModes();
  fullGamma[displayID] = fullGammaMode(*stepStore_, displayID);
  brightnessController_->apply(100, targets, levels, levels, fullGamma, safety);
}

std::vector<DisplayTarget> IdleBrightnessEngine::fixedRangeDisplays() const {
  const auto& selected = stepStore_->selectedDisplayIDs.get();
  std::vector<DisplayTarget> fixed;
  for (const auto& display : displayStore_->displays.get()) {
    if (selected.contains(display.displayID) && stepStore_->hasFixedRange(display.displayID)) fixed.push_back(display);
  }
  return fixed;
}

void IdleBrightnessEngine::handleMasterBrightnessShortcut(double delta) {
  const double base = brightnessBeforeStepPreview_.value_or(currentBrightnessPercent_);
  const double value = std::min(std::max(base + delta, 0.0), 100.0);
  if (!shortcutEditActive_) {
    // Saves caused by a burst of presses are held until the burst ends.
    shortcutEditActive_ = true;
    stepStore_->beginInteractiveEdit();
  }
  shortcutSaveWorkItem_ = ports_.mainLoop.after(kShortcutSaveDelay, [this] { finishShortcutEdit(); });
  if (std::fabs(value - base) > kLevelTolerance) setManualBrightness(value);
  ShortcutHUD::shared().show(L10n::text("shortcut_hud_title"), value);
}

void IdleBrightnessEngine::finishShortcutEdit() {
  shortcutSaveWorkItem_.cancel();
  if (!shortcutEditActive_) return;
  shortcutEditActive_ = false;
  stepStore_->endInteractiveEdit();
}

bool IdleBrightnessEngine::handleBrightnessKeyShortcut(const InputEvent& event) {
  if (!event.pressed || !event.controlAndAlt) return false;
  if (event.kind == InputEvent::Kind::brightnessUp && stepStore_->increaseMaxShortcutKey.get() == "brightness_up") {
    handleMasterBrightnessShortcut(kShortcutStep);
    return true;
  }
  if (event.kind == InputEvent::Kind::brightnessDown && stepStore_->decreaseMaxShortcutKey.get() == "brightness_down") {
    handleMasterBrightnessShortcut(-kShortcutStep);
    return true;
  }
  return false;
}

void IdleBrightnessEngine::handleShortcutKeysChanged() {
  std::pair keys{stepStore_->increaseMaxShortcutKey.get(), stepStore_->decreaseMaxShortcutKey.get()};
  if (registeredShortcutKeys_ == keys) return;  // assigned again, not changed
  hotKeyManager_.update(keys.first, keys.second);
  registeredShortcutKeys_ = std::move(keys);
  publishRestoreShortcutAvailability();
}

void IdleBrightnessEngine::publishRestoreShortcutAvailability() {
  const bool available = hotKeyManager_.registrations().contains(HotKeyID::restore);
  if (available != restoreShortcutAvailable.get()) assignPublished(restoreShortcutAvailable, available);
}
