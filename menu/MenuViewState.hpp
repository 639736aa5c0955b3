// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/Signal.hpp"
#include "base/Uuid.hpp"
#include "menu/GlassAppearance.hpp"
#include "menu/MaintenanceActions.hpp"
#include "menu/MenuLayout.hpp"
#include "menu/MenuPicker.hpp"
#include "services/DesktopDimmingHandover.hpp"
#include "services/LoginLaunchController.hpp"

class StepStore;
class DisplayStore;
class IdleBrightnessEngine;
class SystemNotifications;
class UserDefaults;
class ScreenGeometry;
class Autostart;
class Inhibitors;
class GammaTables;

// The settings window's state and rules, without drawing: the four interface
// preferences, the previews a drag runs, what happens when the window shows
// and hides, and what every row shows and does. The Qt view asks it for each
// value and label and calls it for each action; `changed` tells the view to
// refresh what it shows of this state (the stores and the engine have their
// own signals). Main thread only. The models must outlive it. Make one for
// the program's life, not one per opening: a diagnostic capture that ends
// while the window is closed is still shown in the file manager.
class MenuViewState {
 public:
  // Interface preferences (the user defaults), never in the configuration file.
  static constexpr const char* advancedExpandedKey = "menu.advancedExpanded";
  static constexpr const char* displaysExpandedKey = "menu.masterExpanded";  // the displays section
  static constexpr const char* stepsExpandedKey = "menu.stepsExpanded";
  static constexpr const char* glassTransparencyKey = "menu.glassTransparency";

  struct Options {
    // Where /etc/os-release, /proc/sys/kernel/osrelease and the package
    // database are read (tests use a fake tree).
    std::filesystem::path systemRoot = "/";
    // The project's web site, "" for none (the DIMMORA_HOMEPAGE build setting by default).
    std::string homepage = MaintenanceActions::buildHomepage();
  };

  // The desktop's services the window uses. Without user defaults the
  // preferences last until exit; without screens the height is a default one;
  // without an autostart service launching at login is unavailable; without
  // gamma tables every display says it cannot be dimmed through gamma; without
  // inhibitors the media switch says that playback cannot be detected;
  // without the desktop's idle dimming there is no notice about it.
  struct Ports {
    MainLoop& mainLoop;
    SystemNotifications* notifications = nullptr;
    UserDefaults* userDefaults = nullptr;
    const ScreenGeometry* screens = nullptr;
    Autostart* autostart = nullptr;
    const Inhibitors* inhibitors = nullptr;
    GammaTables* gamma = nullptr;
    DesktopIdleDimming* desktopDimming = nullptr;
    MaintenanceActions::Ports maintenance = {};
  };

  MenuViewState(std::shared_ptr<StepStore> stepStore, std::shared_ptr<DisplayStore> displayStore,
                std::shared_ptr<IdleBrightnessEngine> engine, const Ports& ports, Options options);
  MenuViewState(std::shared_ptr<StepStore> stepStore, std::shared_ptr<DisplayStore> displayStore,
                std::shared_ptr<IdleBrightnessEngine> engine, const Ports& ports)
      : MenuViewState(std::move(stepStore), std::move(displayStore), std::move(engine), ports, Options{}) {}
  ~MenuViewState();
  MenuViewState(const MenuViewState&) = delete;
  MenuViewState& operator=(const MenuViewState&) = delete;

  Signal<> changed;
  // The window is closing: drags in progress stop before the previews end.
  Signal<> hiding;

  // ---- sections (persisted) ----
  bool isAdvancedSettingsOpen() const;
  bool isDisplaysOpen() const;
  bool isStepsOpen() const;
  void setAdvancedSettingsOpen(bool open);
  void setDisplaysOpen(bool open);
  void setStepsOpen(bool open);

  // ---- glass ----
  // The saved percent as the window uses it: clamped to 0...100, 35 when corrupt.
  double savedGlassTransparency() const;
  // The transparency slider: saves the percent and updates the shared appearance.
  void setGlassTransparency(double percent);
  GlassAppearance& glassAppearance() { return glassAppearance_; }

  // ---- window ----
  MenuHeights& heights() { return heights_; }
  MenuWindowAnchor& anchor() { return anchor_; }
  bool menuVisible() const { return menuVisible_; }
  // The window was shown: glass from the saved percent, engine told, screen
  // height and login state read again.
  void appear();
  // The window was hidden: cards dismissed, running previews and edits ended.
  void disappear();
  // The application became active again (re-reads the login state).
  void applicationBecameActive();

  // ---- previews ----
  struct RangeHandle {
    DisplayID displayID;
    bool minimum;
    friend bool operator==(const RangeHandle&, const RangeHandle&) = default;
  };
  void beginStepBrightnessPreview(const Uuid& id, double brightnessPercent);
  void endStepBrightnessPreview(const Uuid& id);
  void endStepBrightnessPreviewIfNeeded();
  const std::optional<Uuid>& previewingStepID() const { return previewingStepID_; }
  // The range editor's drag start (editing true) and end, with the handle.
  void displayRangeEditingChanged(DisplayID displayID, bool editing, bool minimum);
  const std::optional<RangeHandle>& previewingMaster() const { return previewingMaster_; }

  // ---- master control ----
  // Disabled when every target display has a fixed range (and there is one).
  bool masterControlEnabled() const;
  std::string masterControlTooltip() const;

  // ---- pause ----
  std::string pauseButtonLabel() const;
  // The menu's entries: while paused, "resume_dimming" first (then a
  // separator), then one entry per duration of MenuLabels::pauseDurations.
  bool pauseMenuShowsResume() const;
  std::vector<std::string> pauseDurationLabels() const;
  // Index into MenuLabels::pauseDurations.
  void choosePauseDuration(std::size_t index);
  void resumeDimming();
  // "Dimming resumes at 21:30" while paused.
  std::optional<std::string> resumeAtText() const;
  void setPauseDuringMediaPlayback(bool enabled);
  // Where the system reports no media playback the switch can do nothing:
  // the window says so and offers it no more. nullopt while it is reported.
  std::optional<std::string> mediaDetectionUnavailableText() const;

  // ---- displays section ----
  std::size_t displayCount() const;
  bool isDisplaySelected(DisplayID id) const;
  void setDisplaySelected(DisplayID id, bool selected);
  bool displayUsesFullGammaMode(DisplayID id) const;
  void setDisplayUsesFullGammaMode(DisplayID id, bool enabled);
  // The localized control status ("control_unchecked" before the first write).
  std::string displayControlStatusText(DisplayID id) const;
  // Why the display's gamma cannot be driven, localized; nullopt when it can.
  // While there is a reason the full-gamma switch is unavailable.
  std::optional<std::string> displayGammaUnavailableText(DisplayID id) const;
  // The desktop's own idle dimming: the section's notice and its action.
  DesktopDimmingHandover& desktopDimming() { return desktopDimming_; }

  // ---- steps section ----
  // The first step (at 0 seconds) keeps its time and cannot be removed.
  bool isStepEditable(const Uuid& id) const;
  bool canRemoveStep(const Uuid& id) const;
  // "Step 2, after 180 s": which step a row is, for screen readers.
  std::string stepRowName(const Uuid& id) const;
  // Typing in a step's time field (ignored for the first step).
  void setStepIdleSeconds(const Uuid& id, double seconds);
  // Leaving or submitting the field: the steps are sorted by time.
  void submitStepIdleSeconds();
  void removeStep(const Uuid& id);
  void addStep();

  // ---- advanced section ----
  MenuPicker languagePicker();
  MenuPicker safetyMinimumPicker();
  MenuPicker increaseMaxShortcutPicker();
  MenuPicker decreaseMaxShortcutPicker();
  MenuPicker fadeDurationPicker();
  MenuPicker frameRatePicker();
  MenuPicker fadeCurvePicker();
  LoginLaunchController& loginLaunch() { return loginLaunch_; }
  void setLaunchAtLogin(bool enabled);
  bool showsRestoreShortcutUnavailable() const;
  // Without hot keys the user can still bind the D-Bus methods in the
  // desktop's own settings: offered exactly while the shortcut is unavailable.
  std::optional<std::string> shortcutsUnavailableHint() const;
  // While the desktop reports no idle time the engine does not dim; the
  // window says so ("idle_time_unavailable", or the idle source's own note
  // of why, or of an application keeping the screen awake). nullopt while
  // there is nothing to say.
  std::optional<std::string> idleTimeUnavailableText() const;
  // What became of the settings file at start, while it matters: it could not
  // be read ("settings_file_unreadable"), or some of its values took their
  // defaults ("settings_file_values_ignored"). nullopt when it was fine.
  std::optional<std::string> settingsFileNoticeText() const;

  // ---- footer ----
  // The credit line with this year (the main loop's clock, local time).
  std::string creditLine() const;

  // ---- maintenance and confirmation cards ----
  MaintenanceActions& maintenance() { return maintenance_; }

  StepStore& stepStore() { return *stepStore_; }
  DisplayStore& displayStore() { return *displayStore_; }
  IdleBrightnessEngine& engine() { return *engine_; }
  MainLoop& mainLoop() { return loop_; }

 private:
  friend class MaintenanceActions;  // reset puts the preferences back
  bool preference(const char* key) const;
  void setPreference(const char* key, bool value);
  void setGlassPreference(double percent);
  void endInteractiveEdit();
  void endRangePreview();

  std::shared_ptr<StepStore> stepStore_;
  std::shared_ptr<DisplayStore> displayStore_;
  std::shared_ptr<IdleBrightnessEngine> engine_;
  MainLoop& loop_;
  UserDefaults* userDefaults_;
  const bool inhibitorsAvailable_;
  GammaTables* gamma_;
  GlassAppearance glassAppearance_;
  MenuHeights heights_;
  MenuWindowAnchor anchor_;
  LoginLaunchController loginLaunch_;
  DesktopDimmingHandover desktopDimming_;
  bool menuVisible_ = false;
  std::optional<Uuid> previewingStepID_;
  std::optional<RangeHandle> previewingMaster_;
  // Preferences kept here when the system offers no user defaults.
  std::map<std::string, double> unsavedPreferences_;
  MaintenanceActions maintenance_;
  std::vector<Subscription> subscriptions_;
};
