// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/MainLoop.hpp"
#include "base/Numbers.hpp"
#include "base/Published.hpp"
#include "base/Signal.hpp"
#include "display/DisplayTarget.hpp"
#include "engine/FadeTransition.hpp"
#include "engine/IdleCounter.hpp"
#include "engine/MasterBrightnessPresentation.hpp"
#include "ports/InputMonitors.hpp"
#include "services/GlobalHotKeyManager.hpp"

class StepStore;
class DisplayStore;
class PowerAssertionMonitor;
class BrightnessController;
class IdleTimeSource;
class SystemNotifications;
class GlobalShortcuts;

// Dims the displays step by step while the user is idle and brings them back
// on input. At rest it sleeps until the next moment anything can change (the
// idle source's word that the next step's threshold is reached or that the
// user is back, a pause's end, a setting, media playback, a display change);
// each of these runs tick(). Only a fade ticks, at the frame rate, and the
// open window's idle counter once a second. Everything runs on the main thread.
class IdleBrightnessEngine {
 public:
  // The constant tick of useConstantTick().
  static constexpr double kConstantTickInterval = 0.25;
  // A resting wake-up comes this much after its moment, so that the clocks,
  // read again, are surely past it.
  static constexpr double kWakeSlack = 0.001;
  static constexpr double kDisplayChangeDebounce = 0.5;
  static constexpr double kShortcutSaveDelay = 0.35;
  static constexpr double kRestoreHoldSeconds = 300;
  // Idle this long, the user is away: what the displays show then is their
  // level, and what other programs change afterwards is not.
  static constexpr double kUserAwaySeconds = 1;
  static constexpr double kShortcutStep = 5;
  // Longer pauses are indistinguishable to the user and would overflow a time point.
  static constexpr double kLongestPauseMinutes = 1'000'000;

  // The desktop's services the engine listens to. Without an idle source it
  // never dims (and says so); without input monitors only the window's own
  // input counts; without notifications sleep and wake go unnoticed; without
  // a shortcuts service no key registers.
  struct Ports {
    MainLoop& mainLoop;
    IdleTimeSource* idleTime = nullptr;
    InputMonitors* inputMonitors = nullptr;
    SystemNotifications* notifications = nullptr;
    GlobalShortcuts* shortcuts = nullptr;
  };

  // Starts nothing time-based.
  IdleBrightnessEngine(std::shared_ptr<StepStore> stepStore, std::shared_ptr<DisplayStore> displayStore,
                       std::shared_ptr<PowerAssertionMonitor> powerAssertionMonitor,
                       std::unique_ptr<BrightnessController> brightnessController, const Ports& ports);
  ~IdleBrightnessEngine();
  IdleBrightnessEngine(const IdleBrightnessEngine&) = delete;
  IdleBrightnessEngine& operator=(const IdleBrightnessEngine&) = delete;

  // --- evaluation (tick) ---
  void start();
  void tick();
  void applyCurrentBrightness();
  // For a frame-rate change: drops the running timer so the next one uses the new rate.
  void restartTimer();
  // Ticks every kConstantTickInterval at rest and hears of nothing by itself
  // but input, as the engine once did: a test holds the resting engine against it.
  void useConstantTick() { constantTick_ = true; }

  // `now` is the main loop's uptime(), the clock the idle time is kept on.
  double effectiveIdleSeconds(double now) const;
  double targetBrightness(double idleSeconds) const;
  double baseBrightnessAtZeroIdle() const;
  std::set<DisplayID> targetDisplayIDs() const;
  std::map<DisplayID, double> targetDisplayMaximumPercents() const;
  std::map<DisplayID, double> targetDisplayMinimumPercents() const;
  std::map<DisplayID, bool> targetDisplayFullGammaModes() const;
  void publishMasterBrightness();

  // --- fades ---
  void updateFadeTransitionIfNeeded(double now);
  double interpolatedBrightness(double at);

  // --- activity, pause, sleep, manual level ---
  void handleUserActivity();
  void handleWillSleep();
  void setMenuVisible(bool visible);
  void setManualBrightness(double percent);
  void beginManualAdjustment();
  void endManualAdjustment();
  void restoreBrightness();
  void resumeAutomaticDimming();
  void pauseDimming(double minutes);

  // --- previews and shortcuts ---
  void previewBrightness(double percent);
  void endBrightnessPreview();
  void previewDisplayActualBrightness(double percent, DisplayID displayID);
  void endDisplayActualBrightnessPreview(DisplayID displayID);
  std::vector<DisplayTarget> fixedRangeDisplays() const;
  void handleMasterBrightnessShortcut(double delta);
  // Control+Alt+a brightness key, when the settings make it a shortcut; true when handled.
  bool handleBrightnessKeyShortcut(const InputEvent& event);
  void finishShortcutEdit();

  // --- what the menu observes ---
  IdleCounter idleCounter;
  MasterBrightnessPresentation masterPresentation;
  Published<std::optional<WallClock::time_point>> pauseUntil;
  Published<bool> restoreShortcutAvailable{false};
  // False while the desktop answers no idle-time query; the engine then never
  // dims, and the window says why (localization key "idle_time_unavailable").
  Published<bool> idleTimeAvailable{true};
  // The idle source's note (a localization key, empty for none), which the window shows while it lasts.
  Published<std::string> idleTimeNote;
  Signal<> objectWillChange;

  double currentBrightnessPercent() const { return currentBrightnessPercent_; }
  double targetBrightnessPercent() const { return targetBrightnessPercent_; }
  bool menuIsVisible() const { return menuIsVisible_; }
  bool recoveryActive() const { return recoveryActive_; }
  bool manualAdjustmentActive() const { return manualAdjustmentActive_; }
  bool shortcutEditActive() const { return shortcutEditActive_; }
  std::optional<double> previewBrightnessPercent() const { return previewBrightnessPercent_; }
  std::optional<double> brightnessBeforeStepPreview() const { return brightnessBeforeStepPreview_; }
  const std::optional<FadeTransition>& fadeTransition() const { return fadeTransition_; }
  // The repeating timer's interval; none at rest.
  std::optional<double> timerInterval() const { return timerInterval_; }
  bool isStarted() const { return started_; }
  GlobalHotKeyManager& hotKeyManager() { return hotKeyManager_; }

 private:
  // Everything that tick() and applyCurrentBrightness() share.
  void evaluate(double now, bool onlyWhenChanged);
  double combinedIdleSeconds(double now, std::optional<double> systemIdle) const;
  // Publishes a change of the idle source's state and logs it, once per change.
  void noteIdleTimeAvailability(bool available, std::string_view note);
  void moveTowardsTarget(double now);
  // Arms the frame timer while a fade runs, else what wakes the engine at rest.
  void schedule();
  void armRestingWakes();
  // A wake-up from anything but the timers: evaluates on a later turn of the loop, once per burst.
  void wakeSoon();
  bool mediaPlaybackHoldsTheLevel() const;
  // The smallest step threshold above `idleSeconds`, if any.
  std::optional<double> nextThreshold(double idleSeconds) const;
  void updateIdleCounter(double idleSeconds);
  void resetIdleCounter();
  void applyLevel(double level);
  // Tells the controller when the user goes away and comes back.
  void noteUserAway(double idleSeconds);
  // Shows one display at `percent` of its own range and hands every other
  // driven display the level it shows now, so that none of them is forgotten,
  // re-written or has its gamma table put back.
  void applyDisplayPreview(DisplayID displayID, double percent);
  void handleDisplayChange(const std::vector<DisplayTarget>& displays);
  // A monitor's brightness read ended: the level goes out again with its range known.
  void handleMaximumReadEnded();
  void installEventMonitors();
  void installWorkspaceObservers();
  void handleShortcutKeysChanged();
  void publishRestoreShortcutAvailability();
  void clearPreviews();
  // Observers of the whole engine hear of every published change first.
  template <typename T>
  void assignPublished(Published<T>& field, T value) {
    objectWillChange.emit();
    field.set(std::move(value));
  }

  double stepLevel(double idleSeconds) const;
  double manualPercent() const;
  double now() const;
  WallClock::time_point wallNow() const;
  // Runs `work` on a later turn of the main loop if the engine still exists then.
  void postIfAlive(std::function<void(IdleBrightnessEngine&)> work);

  const Ports ports_;
  double currentBrightnessPercent_ = 100;
  bool menuIsVisible_ = false;
  bool recoveryActive_ = false;
  bool manualAdjustmentActive_ = false;
  bool shortcutEditActive_ = false;
  ScheduledWork shortcutSaveWorkItem_;
  ScheduledWork shortcutKeysUpdate_;
  std::optional<std::pair<std::string, std::string>> registeredShortcutKeys_;
  Subscription displayChangeCancellable_;
  Subscription maximumReadEnded_;
  ScheduledWork displayChangeDebounce_;

  std::shared_ptr<StepStore> stepStore_;
  std::shared_ptr<DisplayStore> displayStore_;
  std::shared_ptr<PowerAssertionMonitor> powerAssertionMonitor_;
  std::unique_ptr<BrightnessController> brightnessController_;

  bool started_ = false;
  bool constantTick_ = false;
  ScheduledWork timerCancellable_;
  std::optional<double> timerInterval_;
  // At rest: the one timer for the next moment, and the idle source's two requests.
  ScheduledWork restingWake_;
  ScheduledWork idleReached_;
  ScheduledWork userReturned_;
  ScheduledWork pendingWake_;
  std::vector<Subscription> wakeSources_;
  std::vector<Subscription> configCancellables_;
  Subscription globalEventMonitor_;
  Subscription localEventMonitor_;
  std::vector<Subscription> workspaceObservers_;
  // Monotonic seconds: the idle clock must not run backwards with the wall clock.
  double lastActivityAt_ = 0;
  bool userAway_ = false;  // as last told to the controller
  double targetBrightnessPercent_ = 100;
  std::optional<FadeTransition> fadeTransition_;
  std::optional<double> previewBrightnessPercent_;
  std::optional<double> brightnessBeforeStepPreview_;
  // The display a range preview shows, and at what level.
  struct DisplayPreview {
    DisplayID displayID;
    double percent;
  };
  std::optional<DisplayPreview> displayPreview_;
  // What the controller was last given by applyLevel: a fade is measured
  // against it, since a slow one moves less than the tolerance per frame.
  std::optional<double> lastHandedOverLevel_;
  GlobalHotKeyManager hotKeyManager_;

  // Expires with the engine: work posted onto the loop checks it first.
  std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
};
