// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/MenuViewState.hpp"

#include <algorithm>

#include "base/Numbers.hpp"
#include "display/BrightnessSafety.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DisplayStore.hpp"
#include "display/NearBlackGammaController.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "menu/MenuLabels.hpp"
#include "ports/SystemNotifications.hpp"
#include "ports/UserDefaults.hpp"
#include "services/L10n.hpp"
#include "settings/StepStore.hpp"

MenuViewState::MenuViewState(std::shared_ptr<StepStore> stepStore, std::shared_ptr<DisplayStore> displayStore,
                             std::shared_ptr<IdleBrightnessEngine> engine, const Ports& ports, Options options)
    : stepStore_(std::move(stepStore)),
      displayStore_(std::move(displayStore)),
      engine_(std::move(engine)),
      loop_(ports.mainLoop),
      userDefaults_(ports.userDefaults),
      inhibitorsAvailable_(ports.inhibitors != nullptr),
      gamma_(ports.gamma),
      heights_(ports.screens),
      loginLaunch_(ports.autostart),
      desktopDimming_(ports.desktopDimming, ports.userDefaults),
      maintenance_(*this, ports.mainLoop, ports.maintenance, std::move(options.systemRoot),
                   std::move(options.homepage)) {
  subscriptions_.push_back(desktopDimming_.changed.connect([this] { changed.emit(); }));
  if (ports.notifications)
    subscriptions_.push_back(
        ports.notifications->screenParametersChanged.connect([this] { heights_.readScreenHeight(); }));
}

MenuViewState::~MenuViewState() = default;

// ---- preferences ---------------------------------------------------------------

bool MenuViewState::preference(const char* key) const {
  if (const UserDefaults* defaults = userDefaults_) return defaults->boolValue(key).value_or(false);
  const auto found = unsavedPreferences_.find(key);
  return found != unsavedPreferences_.end() && found->second != 0;
}

void MenuViewState::setPreference(const char* key, bool value) {
  if (UserDefaults* defaults = userDefaults_) defaults->setBool(key, value);
  else unsavedPreferences_[key] = value ? 1 : 0;
  changed.emit();
}

bool MenuViewState::isAdvancedSettingsOpen() const { return preference(advancedExpandedKey); }
bool MenuViewState::isDisplaysOpen() const { return preference(displaysExpandedKey); }
bool MenuViewState::isStepsOpen() const { return preference(stepsExpandedKey); }
void MenuViewState::setAdvancedSettingsOpen(bool open) { setPreference(advancedExpandedKey, open); }
void MenuViewState::setDisplaysOpen(bool open) { setPreference(displaysExpandedKey, open); }
void MenuViewState::setStepsOpen(bool open) { setPreference(stepsExpandedKey, open); }

double MenuViewState::savedGlassTransparency() const {
  std::optional<double> saved;
  if (const UserDefaults* defaults = userDefaults_) {
    saved = defaults->doubleValue(glassTransparencyKey);
  } else if (const auto found = unsavedPreferences_.find(glassTransparencyKey); found != unsavedPreferences_.end()) {
    saved = found->second;
  }
  return clampedGlassTransparency(saved.value_or(GlassAppearance::defaultPercent));
}

void MenuViewState::setGlassPreference(double percent) {
  if (UserDefaults* defaults = userDefaults_) defaults->setDouble(glassTransparencyKey, percent);
  else unsavedPreferences_[glassTransparencyKey] = percent;
}

void MenuViewState::setGlassTransparency(double percent) {
  const double value = clampedGlassTransparency(percent);
  setGlassPreference(value);
  glassAppearance_.setPercent(value);
}

// ---- showing and hiding ----------------------------------------------------------

void MenuViewState::appear() {
  glassAppearance_.setPercent(savedGlassTransparency());
  menuVisible_ = true;
  anchor_.setActive(true);
  engine_->setMenuVisible(true);
  heights_.readScreenHeight();
  loginLaunch_.refresh();
  changed.emit();
}

void MenuViewState::disappear() {
  hiding.emit();
  menuVisible_ = false;
  anchor_.setActive(false);
  anchor_.reset();
  engine_->setMenuVisible(false);
  maintenance_.dismissCards();
  endRangePreview();
  endStepBrightnessPreviewIfNeeded();
  engine_->endManualAdjustment();
  changed.emit();
}

void MenuViewState::applicationBecameActive() { loginLaunch_.refresh(); }

// ---- previews ----------------------------------------------------------------------

void MenuViewState::endInteractiveEdit() { stepStore_->endInteractiveEdit(); }

void MenuViewState::beginStepBrightnessPreview(const Uuid& id, double brightnessPercent) {
  if (previewingStepID_ == id) return;
  // One edit for the whole preview, however often the previewed step changes.
  if (!previewingStepID_) stepStore_->beginInteractiveEdit();
  previewingStepID_ = id;
  engine_->previewBrightness(brightnessPercent);
  changed.emit();
}

void MenuViewState::endStepBrightnessPreview(const Uuid& id) {
  if (previewingStepID_ != id) return;
  endStepBrightnessPreviewIfNeeded();
}

void MenuViewState::endStepBrightnessPreviewIfNeeded() {
  if (!previewingStepID_) return;
  previewingStepID_.reset();
  endInteractiveEdit();
  engine_->endBrightnessPreview();
  changed.emit();
}

void MenuViewState::displayRangeEditingChanged(DisplayID displayID, bool editing, bool minimum) {
  const RangeHandle handle{displayID, minimum};
  if (!editing) {
    if (previewingMaster_ == handle) endRangePreview();
    return;
  }
  if (previewingMaster_ == handle) return;
  if (!previewingMaster_) stepStore_->beginInteractiveEdit();
  previewingMaster_ = handle;
  const double value =
      minimum ? stepStore_->displayMinimumPercent(displayID) : stepStore_->displayMaximumPercent(displayID);
  engine_->previewDisplayActualBrightness(value, displayID);
  changed.emit();
}

void MenuViewState::endRangePreview() {
  if (!previewingMaster_) return;
  const DisplayID displayID = previewingMaster_->displayID;
  previewingMaster_.reset();
  endInteractiveEdit();
  engine_->endDisplayActualBrightnessPreview(displayID);
  changed.emit();
}

// ---- master control ------------------------------------------------------------------

bool MenuViewState::masterControlEnabled() const {
  const auto targets = engine_->targetDisplayIDs();
  return targets.empty() || engine_->fixedRangeDisplays().size() != targets.size();
}

std::string MenuViewState::masterControlTooltip() const {
  const auto fixed = engine_->fixedRangeDisplays();
  if (fixed.empty()) return L10n::text("manual_range_hint");
  std::string tooltip;
  for (const DisplayTarget& display : fixed) {
    if (!tooltip.empty()) tooltip += '\n';
    tooltip += L10n::text("fixed_brightness_range",
                          {{"name", display.name},
                           {"percent", std::to_string(static_cast<long long>(
                                           stepStore_->displayMinimumPercent(display.displayID)))}});
  }
  return tooltip;
}

// ---- pause ----------------------------------------------------------------------------

std::string MenuViewState::pauseButtonLabel() const {
  return L10n::text(engine_->pauseUntil.get() ? "paused_dimming" : "select_pause_duration");
}

bool MenuViewState::pauseMenuShowsResume() const { return engine_->pauseUntil.get().has_value(); }

std::vector<std::string> MenuViewState::pauseDurationLabels() const {
  std::vector<std::string> labels;
  for (const double minutes : MenuLabels::pauseDurations) labels.push_back(MenuLabels::pauseDurationLabel(minutes));
  return labels;
}

void MenuViewState::choosePauseDuration(std::size_t index) {
  if (index >= MenuLabels::pauseDurations.size()) return;
  engine_->pauseDimming(MenuLabels::pauseDurations[index]);
}

void MenuViewState::resumeDimming() { engine_->resumeAutomaticDimming(); }

std::optional<std::string> MenuViewState::resumeAtText() const {
  const auto& until = engine_->pauseUntil.get();
  if (!until) return std::nullopt;
  return MenuLabels::resumeAtText(*until);
}

void MenuViewState::setPauseDuringMediaPlayback(bool enabled) { stepStore_->pauseDuringMediaPlayback = enabled; }

std::optional<std::string> MenuViewState::mediaDetectionUnavailableText() const {
  if (inhibitorsAvailable_) return std::nullopt;
  return L10n::text("media_detection_unavailable");
}

// ---- displays -----------------------------------------------------------------------------

std::size_t MenuViewState::displayCount() const { return displayStore_->displays.get().size(); }

bool MenuViewState::isDisplaySelected(DisplayID id) const { return stepStore_->selectedDisplayIDs.get().contains(id); }

void MenuViewState::setDisplaySelected(DisplayID id, bool selected) {
  auto ids = stepStore_->selectedDisplayIDs.get();
  if (selected) ids.insert(id);
  else ids.erase(id);
  // Assigning the selection requests the save (at once, or when a running edit ends).
  stepStore_->selectedDisplayIDs = std::move(ids);
  engine_->applyCurrentBrightness();
}

bool MenuViewState::displayUsesFullGammaMode(DisplayID id) const {
  const auto& modes = stepStore_->displayFullGammaModes.get();
  const auto found = modes.find(id);
  return found != modes.end() && found->second;
}

void MenuViewState::setDisplayUsesFullGammaMode(DisplayID id, bool enabled) {
  stepStore_->setDisplayUsesFullGammaMode(enabled, id);
  engine_->applyCurrentBrightness();
}

std::string MenuViewState::displayControlStatusText(DisplayID id) const {
  return L10n::text(ControlStatusStore::shared().status(id));
}

std::optional<std::string> MenuViewState::displayGammaUnavailableText(DisplayID id) const {
  const std::optional<std::string> reason = NearBlackGammaController::unavailableReason(gamma_, id);
  if (!reason) return std::nullopt;
  return L10n::text(*reason);
}

// ---- steps ----------------------------------------------------------------------------------

bool MenuViewState::isStepEditable(const Uuid& id) const {
  const auto& steps = stepStore_->steps();
  return steps.empty() || steps.front().id != id;
}

bool MenuViewState::canRemoveStep(const Uuid& id) const {
  return isStepEditable(id) && stepStore_->steps().size() > 1;
}

std::string MenuViewState::stepRowName(const Uuid& id) const {
  const auto& steps = stepStore_->steps();
  const auto step = std::find_if(steps.begin(), steps.end(), [&id](const IdleStep& s) { return s.id == id; });
  if (step == steps.end()) return {};
  return MenuLabels::stepRowName(static_cast<std::size_t>(step - steps.begin()) + 1, step->idleSeconds);
}

void MenuViewState::setStepIdleSeconds(const Uuid& id, double seconds) {
  if (!isStepEditable(id) || !std::isfinite(seconds)) return;
  auto steps = stepStore_->steps();
  const auto step = std::find_if(steps.begin(), steps.end(), [&id](const IdleStep& s) { return s.id == id; });
  if (step == steps.end()) return;
  step->idleSeconds = std::max(seconds, 0.0);
  stepStore_->setSteps(std::move(steps));
  engine_->applyCurrentBrightness();
}

void MenuViewState::submitStepIdleSeconds() { stepStore_->sortStepsByIdleSeconds(); }

void MenuViewState::removeStep(const Uuid& id) {
  if (!canRemoveStep(id)) return;
  stepStore_->removeStep(id);
  engine_->applyCurrentBrightness();
}

void MenuViewState::addStep() {
  stepStore_->add();
  engine_->applyCurrentBrightness();
}

// ---- advanced ---------------------------------------------------------------------------------

namespace {
// A picker over `options`, the current value checked when it is one of them.
template <typename Options, typename Value, typename Label, typename Same, typename Choose>
MenuPicker makePicker(const Options& options, const Value& current, Label label, Same same, Choose choose) {
  MenuPicker picker;
  picker.faceLabel = label(current);
  for (std::size_t index = 0; index < options.size(); ++index) {
    picker.labels.push_back(label(options[index]));
    if (!picker.selectedIndex && same(options[index], current)) picker.selectedIndex = index;
  }
  picker.choose = [options, choose](std::size_t index) {
    if (index < options.size()) choose(options[index]);
  };
  return picker;
}

bool sameNumber(double a, double b) { return nearlyEqual(a, b); }
}  // namespace

MenuPicker MenuViewState::languagePicker() {
  return makePicker(AppLanguage::allCases, AppLanguage::Case(stepStore_->language.get()),
                    [](AppLanguage::Case value) { return MenuLabels::languageLabel(value); },
                    std::equal_to<AppLanguage::Case>(),
                    [store = stepStore_](AppLanguage::Case value) { store->language = value; });
}

MenuPicker MenuViewState::safetyMinimumPicker() {
  return makePicker(BrightnessSafety::minimumOptions, stepStore_->safetyMinimumPercent.get(),
                    MenuLabels::safetyMinimumLabel, sameNumber,
                    [store = stepStore_, engine = engine_](double value) {
                      store->safetyMinimumPercent = value;
                      engine->applyCurrentBrightness();
                    });
}

namespace {
MenuPicker shortcutPicker(const std::shared_ptr<StepStore>& store, Published<std::string> StepStore::*key) {
  return makePicker(MenuLabels::shortcutOptions, std::string_view(((*store).*key).get()),
                    [](std::string_view option) { return MenuLabels::shortcutOptionLabel(option); },
                    std::equal_to<std::string_view>(),
                    [store, key](std::string_view option) { (*store).*key = std::string(option); });
}
}  // namespace

MenuPicker MenuViewState::increaseMaxShortcutPicker() {
  return shortcutPicker(stepStore_, &StepStore::increaseMaxShortcutKey);
}
MenuPicker MenuViewState::decreaseMaxShortcutPicker() {
  return shortcutPicker(stepStore_, &StepStore::decreaseMaxShortcutKey);
}

MenuPicker MenuViewState::fadeDurationPicker() {
  return makePicker(MenuLabels::fadeOptions, stepStore_->fadeDurationSeconds.get(), MenuLabels::fadeDurationLabel,
                    sameNumber, [store = stepStore_, engine = engine_](double value) {
                      store->fadeDurationSeconds = value;
                      engine->applyCurrentBrightness();
                    });
}

MenuPicker MenuViewState::frameRatePicker() {
  return makePicker(MenuLabels::frameRateOptions, stepStore_->frameRate.get(), MenuLabels::frameRateLabel, sameNumber,
                    [store = stepStore_, engine = engine_](double value) {
                      store->frameRate = value;
                      // The running timer picks up the new rate only when started again.
                      engine->restartTimer();
                    });
}

MenuPicker MenuViewState::fadeCurvePicker() {
  return makePicker(FadeCurve::allCases, FadeCurve::Case(stepStore_->fadeCurve.get()),
                    [](FadeCurve::Case curve) { return MenuLabels::fadeCurveLabel(curve); },
                    std::equal_to<FadeCurve::Case>(),
                    [store = stepStore_](FadeCurve::Case curve) { store->fadeCurve = curve; });
}

void MenuViewState::setLaunchAtLogin(bool enabled) { loginLaunch_.setEnabled(enabled); }

bool MenuViewState::showsRestoreShortcutUnavailable() const { return !engine_->restoreShortcutAvailable.get(); }

std::optional<std::string> MenuViewState::shortcutsUnavailableHint() const {
  if (!showsRestoreShortcutUnavailable()) return std::nullopt;
  return L10n::text("shortcuts_unavailable_use_dbus");
}

std::optional<std::string> MenuViewState::idleTimeUnavailableText() const {
  if (const std::string& note = engine_->idleTimeNote.get(); !note.empty()) return L10n::text(note);
  if (engine_->idleTimeAvailable.get()) return std::nullopt;
  return L10n::text("idle_time_unavailable");
}

std::optional<std::string> MenuViewState::settingsFileNoticeText() const {
  const auto& notice = stepStore_->fileNotice();
  if (!notice) return std::nullopt;
  const std::string file = stepStore_->configURL().string();
  switch (notice->kind) {
    case StepStore::FileNotice::Kind::unreadable:
      return L10n::text("settings_file_unreadable", {{"file", file}, {"reason", notice->detail}});
    case StepStore::FileNotice::Kind::valuesIgnored:
      return L10n::text("settings_file_values_ignored", {{"file", file}, {"keys", notice->detail}});
  }
  return std::nullopt;
}

std::string MenuViewState::creditLine() const { return MenuLabels::creditLine(loop_.now()); }
