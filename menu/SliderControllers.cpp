// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/SliderControllers.hpp"

#include <algorithm>
#include <cmath>

#include "base/Numbers.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "menu/MenuLabels.hpp"
#include "menu/MenuViewState.hpp"
#include "services/L10n.hpp"
#include "settings/StepStore.hpp"

double sliderKeyTarget(SliderKey key, double value, double lowest, double highest) {
  double target = value;
  switch (key) {
    case SliderKey::stepUp: target = value + sliderKeyStep; break;
    case SliderKey::stepDown: target = value - sliderKeyStep; break;
    case SliderKey::pageUp: target = value + sliderPageStep; break;
    case SliderKey::pageDown: target = value - sliderPageStep; break;
    case SliderKey::home: target = lowest; break;
    case SliderKey::end: target = highest; break;
  }
  return std::clamp(target, lowest, highest);
}

// ---- single-value slider -----------------------------------------------------------

SliderController::SliderController(MainLoop& loop, Actions actions, bool showsValue, bool immediateChanges,
                                   std::string accessibilityLabel)
    : actions_(std::move(actions)),
      showsValue_(showsValue),
      immediateChanges_(immediateChanges),
      accessibilityLabel_(std::move(accessibilityLabel)),
      updates_(loop) {}

SliderController::~SliderController() = default;

std::unique_ptr<SliderController> SliderController::master(MenuViewState& menu) {
  IdleBrightnessEngine& engine = menu.engine();
  Actions actions;
  actions.begin = [&engine] { engine.beginManualAdjustment(); };
  actions.change = [&engine](double value) {
    // The level the slider shows already: nothing to change.
    const double shown = engine.brightnessBeforeStepPreview().value_or(engine.currentBrightnessPercent());
    if (!nearlyEqual(value, shown)) engine.setManualBrightness(value);
  };
  actions.end = [&engine] { engine.endManualAdjustment(); };
  actions.step = [&engine](double value) { engine.setManualBrightness(value); };
  std::unique_ptr<SliderController> slider(
      new SliderController(menu.mainLoop(), std::move(actions), false, false, L10n::text("everyday_brightness")));
  SliderController* self = slider.get();
  slider->value_ = engine.masterPresentation.percent.get();
  slider->subscriptions_.push_back(
      engine.masterPresentation.percent.changed.connect([self](const double& value) { self->showModelValue(value); }));
  slider->subscriptions_.push_back(menu.hiding.connect([self] { self->abandonDrag(); }));
  return slider;
}

std::unique_ptr<SliderController> SliderController::stepBrightness(MenuViewState& menu, const Uuid& stepID) {
  StepStore& store = menu.stepStore();
  const auto brightness = [&store, stepID] {
    for (const IdleStep& step : store.steps())
      if (step.id == stepID) return step.brightnessPercent;
    return 100.0;
  };
  Actions actions;
  actions.begin = [&menu, stepID, brightness] { menu.beginStepBrightnessPreview(stepID, brightness()); };
  actions.change = [&menu, &store, stepID](double value) {
    auto steps = store.steps();
    for (IdleStep& step : steps)
      if (step.id == stepID) step.brightnessPercent = value;
    store.setSteps(std::move(steps));
    menu.engine().previewBrightness(value);
  };
  actions.end = [&menu, stepID] { menu.endStepBrightnessPreview(stepID); };
  std::unique_ptr<SliderController> slider(
      new SliderController(menu.mainLoop(), std::move(actions), true, false, L10n::text("dim_label")));
  SliderController* self = slider.get();
  slider->value_ = brightness();
  slider->subscriptions_.push_back(
      store.stepBrightnessChanges.connect([self, brightness] { self->showModelValue(brightness()); }));
  slider->subscriptions_.push_back(menu.hiding.connect([self] { self->abandonDrag(); }));
  return slider;
}

std::unique_ptr<SliderController> SliderController::glassTransparency(MenuViewState& menu) {
  Actions actions;
  actions.begin = [] {};
  actions.change = [&menu](double value) { menu.setGlassTransparency(value); };
  actions.end = [] {};
  // Only the window's look changes: every value goes out at once.
  std::unique_ptr<SliderController> slider(
      new SliderController(menu.mainLoop(), std::move(actions), true, true, L10n::text("glass_transparency")));
  SliderController* self = slider.get();
  slider->value_ = menu.savedGlassTransparency();
  slider->subscriptions_.push_back(
      menu.glassAppearance().changes.connect([self](const double& value) { self->showModelValue(value); }));
  slider->subscriptions_.push_back(menu.hiding.connect([self] { self->abandonDrag(); }));
  return slider;
}

void SliderController::setDisabled(bool disabled) {
  if (disabled_ == disabled) return;
  disabled_ = disabled;
  valueChanged.emit();
}

bool SliderController::store(double value) {
  const double clamped = std::isfinite(value) ? std::clamp(value, 0.0, 100.0) : 0.0;
  if (clamped == value_) return false;
  value_ = clamped;
  valueChanged.emit();
  return true;
}

void SliderController::showModelValue(double value) {
  if (!editing_) store(value);
}

void SliderController::deliver(double value) {
  if (immediateChanges_) {
    actions_.change(value);
    return;
  }
  updates_.submit([this, value] { actions_.change(value); });
}

void SliderController::mouseDown(double x, double width) {
  if (disabled_) return;
  editing_ = true;
  actions_.begin();
  mouseDragged(x, width);
}

void SliderController::mouseDragged(double x, double width) {
  if (!editing_) return;
  const double value = geometry(width).valueAt(x);
  store(value);
  deliver(value);
}

void SliderController::mouseUp(double x, double width) {
  if (!editing_) return;
  mouseDragged(x, width);
  updates_.flush();
  editing_ = false;
  actions_.end();
}

void SliderController::abandonDrag() {
  if (!editing_) return;
  updates_.flush();
  editing_ = false;
}

void SliderController::moveTo(double target) {
  if (disabled_ || !std::isfinite(target)) return;
  const double value = std::clamp(std::round(target), 0.0, 100.0);
  if (value == value_) return;
  if (actions_.step) {
    actions_.step(value);
    return;
  }
  actions_.begin();
  store(value);
  actions_.change(value);
  actions_.end();
}

void SliderController::increment() { moveTo(value_ + accessibilityStep); }
void SliderController::decrement() { moveTo(value_ - accessibilityStep); }

// ---- display range -------------------------------------------------------------------

DisplayRangeController::DisplayRangeController(MenuViewState& menu, DisplayID displayID)
    : menu_(menu), displayID_(displayID), updates_(menu.mainLoop()) {
  refresh();
  StepStore& store = menu.stepStore();
  subscriptions_.push_back(store.rangeChanges.connect([this] {
    if (!editingMinimum_) refresh();
  }));
  // The track's left end is the safety minimum.
  subscriptions_.push_back(store.safetyMinimumPercent.changed.connect([this](const double&) {
    if (!editingMinimum_) refresh();
  }));
  subscriptions_.push_back(menu.hiding.connect([this] { abandonDrag(); }));
}

RangeGeometry DisplayRangeController::geometry(double width) const {
  return {width, menu_.stepStore().safetyMinimumPercent.get()};
}

std::string DisplayRangeController::minimumCaption() const { return MenuLabels::rangeMinimumCaption(minimum_); }
std::string DisplayRangeController::maximumCaption() const { return MenuLabels::rangeMaximumCaption(maximum_); }

double DisplayRangeController::storedValue(bool minimum) const {
  const StepStore& store = menu_.stepStore();
  return minimum ? store.displayMinimumPercent(displayID_) : store.displayMaximumPercent(displayID_);
}

void DisplayRangeController::refresh() {
  minimum_ = storedValue(true);
  maximum_ = storedValue(false);
  valueChanged.emit();
}

void DisplayRangeController::mouseDown(double x, double width) {
  const bool minimum = geometry(width).pressTakesMinimum(x, minimum_, maximum_);
  editingMinimum_ = minimum;
  menu_.displayRangeEditingChanged(displayID_, true, minimum);
  mouseDragged(x, width);
}

void DisplayRangeController::mouseDragged(double x, double width) {
  if (!editingMinimum_) return;
  const bool minimum = *editingMinimum_;
  const double value = geometry(width).valueAt(x);
  // The handles may meet but never pass each other.
  double& handle = minimum ? minimum_ : maximum_;
  handle = minimum ? std::min(value, maximum_) : std::max(value, minimum_);
  valueChanged.emit();
  updates_.submit([this, minimum, delivered = handle] { deliver(minimum, delivered); });
}

void DisplayRangeController::deliver(bool minimum, double value) {
  if (value == storedValue(minimum)) return;
  StepStore& store = menu_.stepStore();
  if (minimum) store.setDisplayMinimumPercent(value, displayID_);
  else store.setDisplayMaximumPercent(value, displayID_);
  menu_.engine().previewDisplayActualBrightness(value, displayID_);
}

void DisplayRangeController::mouseUp(double x, double width) {
  if (!editingMinimum_) return;
  mouseDragged(x, width);
  updates_.flush();
  const bool minimum = *editingMinimum_;
  editingMinimum_.reset();
  menu_.displayRangeEditingChanged(displayID_, false, minimum);
  refresh();
}

void DisplayRangeController::abandonDrag() {
  if (!editingMinimum_) return;
  updates_.flush();
  editingMinimum_.reset();
  refresh();
}

void DisplayRangeController::stepHandle(bool minimum, double delta) {
  moveHandle(minimum, (minimum ? minimum_ : maximum_) + delta);
}

void DisplayRangeController::moveHandle(bool minimum, double target) {
  if (editingMinimum_ || !std::isfinite(target)) return;
  const double value = std::clamp(std::round(target), geometry(0).lowerBound, 100.0);
  menu_.displayRangeEditingChanged(displayID_, true, minimum);
  deliver(minimum, minimum ? std::min(value, maximum_) : std::max(value, minimum_));
  menu_.displayRangeEditingChanged(displayID_, false, minimum);
  refresh();
}
