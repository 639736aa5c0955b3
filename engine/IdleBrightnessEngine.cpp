// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/IdleBrightnessEngine.hpp"

#include <algorithm>
#include <cmath>

#include "display/DDCBrightness/BrightnessController.hpp"
#include "display/DisplayStore.hpp"
#include "ports/IdleTimeSource.hpp"
#include "services/PowerAssertionMonitor.hpp"
#include "settings/StepStore.hpp"

IdleBrightnessEngine::IdleBrightnessEngine(std::shared_ptr<StepStore> stepStore,
                                           std::shared_ptr<DisplayStore> displayStore,
                                           std::shared_ptr<PowerAssertionMonitor> powerAssertionMonitor,
                                           std::unique_ptr<BrightnessController> brightnessController,
                                           const Ports& ports)
    : ports_(ports),
      stepStore_(std::move(stepStore)),
      displayStore_(std::move(displayStore)),
      powerAssertionMonitor_(std::move(powerAssertionMonitor)),
      brightnessController_(std::move(brightnessController)),
      lastActivityAt_(now()),
      hotKeyManager_(ports.shortcuts) {
  hotKeyManager_.onRegistrationLost = [this] { publishRestoreShortcutAvailability(); };
  hotKeyManager_.onHotKey = [this](HotKeyID id) {
    switch (id) {
      case HotKeyID::increaseMax:
        handleMasterBrightnessShortcut(kShortcutStep);
        break;
      case HotKeyID::decreaseMax:
        handleMasterBrightnessShortcut(-kShortcutStep);
        break;
      case HotKeyID::restore:
        restoreBrightness();
        break;
    }
  };
  // The two keys are observed together: whatever is assigned within one turn
  // of the loop (a reset assigns both, a rule corrects a value it was just
  // given) re-registers once, with both keys final. The first call registers now.
  const auto keysChanged = [this](const std::string&) {
    if (shortcutKeysUpdate_.isActive()) return;
    shortcutKeysUpdate_ = ports_.mainLoop.post([this] { handleShortcutKeysChanged(); });
  };
  configCancellables_.push_back(stepStore_->increaseMaxShortcutKey.changed.connect(keysChanged));
  configCancellables_.push_back(stepStore_->decreaseMaxShortcutKey.changed.connect(keysChanged));
  handleShortcutKeysChanged();
  maximumReadEnded_ = stepStore_->maximumReadEnded.connect([this] { handleMaximumReadEnded(); });
}

IdleBrightnessEngine::~IdleBrightnessEngine() = default;

double IdleBrightnessEngine::now() const { return ports_.mainLoop.uptime(); }

WallClock::time_point IdleBrightnessEngine::wallNow() const { return ports_.mainLoop.now(); }

void IdleBrightnessEngine::postIfAlive(std::function<void(IdleBrightnessEngine&)> work) {
  std::weak_ptr<const int> alive = alive_;
  ports_.mainLoop
      .post([alive, this, work = std::move(work)] {
        if (alive.lock()) work(*this);
      })
      .detach();
}

double IdleBrightnessEngine::manualPercent() const {
  // The store keeps it in range; a stray value still must not reach a display.
  return sanitizedPercent(stepStore_->manualBrightnessPercent);
}

void IdleBrightnessEngine::start() {
  if (started_) return;
  started_ = true;
  lastActivityAt_ = now();
  installEventMonitors();
  installWorkspaceObservers();
  if (!displayChangeCancellable_.isConnected()) {
    // Only the last of a burst of changes within the debounce window counts.
    displayChangeCancellable_ = displayStore_->displays.changed.connect([this](const std::vector<DisplayTarget>& list) {
      displayChangeDebounce_ = ports_.mainLoop.after(kDisplayChangeDebounce,
                                                             [this, list] { handleDisplayChange(list); });
    });
  }
  if (wakeSources_.empty()) {
    // What can change the level at rest besides time and input.
    wakeSources_.push_back(stepStore_->objectWillChange.connect([this] { wakeSoon(); }));
    wakeSources_.push_back(stepStore_->stepBrightnessChanges.connect([this] { wakeSoon(); }));
    wakeSources_.push_back(powerAssertionMonitor_->isMediaPlaybackAssertionActive.changed.connect(
        [this](bool) { wakeSoon(); }));
    if (IdleTimeSource* source = ports_.idleTime)
      wakeSources_.push_back(source->changed.connect([this] { wakeSoon(); }));
  }
  applyCurrentBrightness();
}

void IdleBrightnessEngine::handleDisplayChange(const std::vector<DisplayTarget>& displays) {
  stepStore_->reconcileDisplays(displays);
  brightnessController_->invalidateDisplayState();
  const auto stillConnected = [&](DisplayID id) {
    return std::any_of(displays.begin(), displays.end(), [id](const DisplayTarget& d) { return d.displayID == id; });
  };
  // A preview holds the displays where it put them until it ends, the new set included.
  if (recoveryActive_) {
    restoreBrightness();
  } else if (displayPreview_ && stillConnected(displayPreview_->displayID)) {
    applyDisplayPreview(displayPreview_->displayID, displayPreview_->percent);
  } else if (previewBrightnessPercent_) {
    applyLevel(currentBrightnessPercent_);
  } else {
    applyCurrentBrightness();
  }
}

void IdleBrightnessEngine::handleMaximumReadEnded() {
  if (!started_) return;  // not started yet: the start applies
  if (displayPreview_) applyDisplayPreview(displayPreview_->displayID, displayPreview_->percent);
  else applyLevel(currentBrightnessPercent_);
}

void IdleBrightnessEngine::restartTimer() {
  if (!started_) return;
  timerCancellable_.cancel();
  timerInterval_.reset();
  schedule();
}

std::set<DisplayID> IdleBrightnessEngine::targetDisplayIDs() const {
  const auto& selected = stepStore_->selectedDisplayIDs.get();
  std::set<DisplayID> ids;
  for (const auto& display : displayStore_->displays.get())
    if (selected.contains(display.displayID)) ids.insert(display.displayID);
  return ids;
}

std::map<DisplayID, double> IdleBrightnessEngine::targetDisplayMaximumPercents() const {
  std::map<DisplayID, double> maximums;
  for (const auto& display : displayStore_->displays.get())
    maximums[display.displayID] = stepStore_->displayMaximumPercent(display.displayID);
  return maximums;
}

std::map<DisplayID, double> IdleBrightnessEngine::targetDisplayMinimumPercents() const {
  std::map<DisplayID, double> minimums;
  for (const auto& display : displayStore_->displays.get())
    minimums[display.displayID] = stepStore_->displayMinimumPercent(display.displayID);
  return minimums;
}

std::map<DisplayID, bool> IdleBrightnessEngine::targetDisplayFullGammaModes() const {
  const auto& modes = stepStore_->displayFullGammaModes.get();
  std::map<DisplayID, bool> fullGamma;
  for (const auto& display : displayStore_->displays.get()) {
    const auto it = modes.find(display.displayID);
    fullGamma[display.displayID] = it != modes.end() && it->second;
  }
  return fullGamma;
}

void IdleBrightnessEngine::applyLevel(double level) {
  lastHandedOverLevel_ = level;
  brightnessController_->apply(level, targetDisplayIDs(), targetDisplayMaximumPercents(),
                               targetDisplayMinimumPercents(), targetDisplayFullGammaModes(),
                               stepStore_->safetyMinimumPercent.get());
}

void IdleBrightnessEngine::publishMasterBrightness() {
  const double shown = brightnessBeforeStepPreview_.value_or(currentBrightnessPercent_);
  if (masterPresentation.percent.get() != shown) masterPresentation.percent = shown;
}
