// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/MainLoop.hpp"
#include "base/Published.hpp"
#include "base/Signal.hpp"
#include "display/DisplayTarget.hpp"
#include "settings/AppConfig.hpp"
#include "settings/AtomicFile.hpp"
#include "settings/SettingsWriter.hpp"

class Environment;
class SystemNotifications;

// Every user setting while the program runs: kept in range, observable, and
// written to the configuration file after each change.
//
// Assigning an observable property (`store.frameRate = 0;`) runs that
// property's rule (the clamp, the language switch, ...) and then saves, or
// marks the save pending inside an interactive edit. Observers subscribe to
// the property's `changed` signal; `objectWillChange` is the general "rebuild
// what shows the store" notification. Main thread only.
class StepStore {
 public:
  // A file larger than any configuration could be is refused before it is
  // read. Ten thousand steps take about 1.1 MiB, so the limit leaves room.
  static constexpr std::size_t kLargestConfigBytes = 4 << 20;

  // The desktop's services the store uses. Without a main loop saves are
  // written at once, on the caller's thread; without an environment the
  // configuration is looked for under ".config" of the working folder;
  // without notifications nothing flushes the last save at quit (the store's
  // end still does).
  struct Ports {
    MainLoop* mainLoop = nullptr;
    const Environment* environment = nullptr;
    SystemNotifications* notifications = nullptr;
  };

  // Finds, migrates, reads and normalizes the configuration.
  explicit StepStore(const Ports& ports);
  StepStore(const StepStore&) = delete;
  StepStore& operator=(const StepStore&) = delete;

  // ---- observable settings ----
  Published<std::set<DisplayID>> selectedDisplayIDs;
  // Changed through setDisplayUsesFullGammaMode, which saves.
  Published<std::map<DisplayID, bool>> displayFullGammaModes;
  // Defaults and ranges from the settings table (AppConfig.hpp).
  Published<double> fadeDurationSeconds{Setting::fadeDurationSeconds.defaultValue};
  Published<double> frameRate{Setting::frameRate.defaultValue};
  Published<FadeCurve> fadeCurve{Setting::fadeCurve.defaultValue};
  Published<AppLanguage> language{Setting::language.defaultValue};
  Published<std::string> increaseMaxShortcutKey{std::string(Setting::increaseMaxShortcutKey.defaultValue)};
  Published<std::string> decreaseMaxShortcutKey{std::string(Setting::decreaseMaxShortcutKey.defaultValue)};
  Published<bool> loggingEnabled{Setting::loggingEnabled.defaultValue};
  Published<bool> pauseDuringMediaPlayback{Setting::pauseDuringMediaPlayback.defaultValue};
  Published<double> safetyMinimumPercent{Setting::safetyMinimumPercent.defaultValue};  // one of BrightnessSafety::minimumOptions

  // The master level (0...100); whoever changes it calls requestSave().
  double manualBrightnessPercent = Setting::manualBrightnessPercent.defaultValue;

  Signal<> stepBrightnessChanges;  // every change of the step list
  Signal<> rangeChanges;           // every change of the per-display maximums or minimums
  Signal<> objectWillChange;       // the general change notification

  // ---- steps ----
  const std::vector<IdleStep>& steps() const { return storedSteps_; }
  // Does not sort. A change of brightness values only does not send
  // objectWillChange, so step editors are not rebuilt during a drag.
  void setSteps(std::vector<IdleStep> steps);
  void add();
  // Ignored while fewer than two steps exist, so the list never empties this way.
  void removeStep(const Uuid& id);
  void sortStepsByIdleSeconds();
  void normalize();
  void resetToDefaults(const std::vector<DisplayID>& activeDisplayIDs);

  // ---- saving ----
  void beginInteractiveEdit();
  void endInteractiveEdit();
  void requestSave();
  // Hands the settings to the writer thread, changed or not.
  void saveConfig();
  // Returns once every save so far is on the disk, its failure logged (at quit, and for tests).
  void flushSaves() { writer_.flush(); }
  int interactiveEditDepth() const { return interactiveEditDepth_; }
  bool hasPendingSave() const { return hasPendingSave_; }
  // Saves handed to the writer since creation, less those it reported failed (diagnostics, tests).
  std::size_t completedSaveCount() const { return completedSaves_; }

  const std::filesystem::path& configURL() const { return configURL_; }

  // What the window tells the user about the file found at start.
  struct FileNotice {
    enum class Kind {
      unreadable,     // it could not be read (`detail`: the system's reason); nothing is saved to it
      valuesIgnored,  // some values could not be used and took their defaults (`detail`: their keys)
    };
    Kind kind;
    std::string detail;
  };
  const std::optional<FileNotice>& fileNotice() const { return fileNotice_; }
  static std::filesystem::path defaultConfigURL(const Environment* environment);
  static std::filesystem::path adjacentLegacyConfigURL(const Environment* environment);
  static void migrateLegacyConfigIfNeeded(const std::filesystem::path& target, const Environment* environment);

  // "brightness_up", "brightness_down", "f1", "f2" (any case, trimmed), else
  // the first character as typed, else the fallback.
  static std::string normalizedShortcutKey(std::string_view key, std::string_view fallback);

  // ---- per-display limits and profiles ----
  // Always S <= minimum <= maximum <= 100, S being the normalized safety minimum.
  double displayMinimumPercent(DisplayID id) const;
  double displayMaximumPercent(DisplayID id) const;
  const std::map<DisplayID, double>& displayMaximumPercents() const { return maximums_; }
  const std::map<DisplayID, double>& displayMinimumPercents() const { return minimums_; }
  void setDisplayMaximumPercents(std::map<DisplayID, double> maximums);
  void setDisplayMinimumPercents(std::map<DisplayID, double> minimums);
  // Never below the display's minimum / above its maximum.
  void setDisplayMaximumPercent(double value, DisplayID id);
  void setDisplayMinimumPercent(double value, DisplayID id);
  void setDisplayUsesFullGammaMode(bool enabled, DisplayID id);
  void normalizeDisplayLimits();
  void captureDisplayProfiles();
  // Starts reading the brightness of each listed monitor not read yet in
  // this process (what it shows then is its user's, and what it counts up to
  // scales every write); the read's end stores it as the maximum unless one
  // is stored, or leaves 100 when the monitor never answers, and fires
  // maximumReadEnded.
  void syncDisplayMaximumsFromCurrentBrightness(const std::vector<DisplayID>& ids);
  Signal<> maximumReadEnded;
  void reconcileDisplays(const std::vector<DisplayTarget>& targets);
  // The display's range has shrunk to one value (its maximum is not above its minimum).
  bool hasFixedRange(DisplayID id) const;

  const std::map<DisplayID, std::string>& connectedDisplayKeys() const { return connectedDisplayKeys_; }
  const std::map<std::string, SavedDisplayProfile>& displayProfiles() const { return displayProfiles_; }

 private:
  void observeRules();
  void load();
  void assignGeneralSettings(const AppConfig& config);
  // Moves a file that cannot be used aside as "config.json.bad", so that the
  // defaults written next do not cost the user what it holds.
  void keepUnusableFile(const std::string& reason);
  // Keeps a copy of a file some of whose values were replaced by their defaults.
  void keepPartlyUsableFile(const std::vector<IgnoredValue>& ignored);
  void adopt(const AppConfig& config, bool fromFile);
  AppConfig currentConfig() const;
  double limitClamp(double value) const;
  std::set<DisplayID> fixedRangeIDs() const;
  void assignLimitMap(std::map<DisplayID, double>& stored, std::map<DisplayID, double> value);
  void adoptFormerProfiles(const std::vector<DisplayTarget>& targets, const std::map<std::string, int>& keyCounts);
  void finishMaximumRead(DisplayID id, std::optional<double> percent);
  void handleWritten(const std::optional<std::string>& failure);

  std::map<DisplayID, std::string> connectedDisplayKeys_;
  std::map<std::string, SavedDisplayProfile> displayProfiles_;
  int interactiveEditDepth_ = 0;
  bool hasPendingSave_ = false;
  std::vector<IdleStep> storedSteps_;
  std::map<DisplayID, double> maximums_;
  std::map<DisplayID, double> minimums_;
  std::filesystem::path configURL_;
  std::size_t completedSaves_ = 0;
  std::map<DisplayID, ScheduledWork> maximumReads_;  // cancelled with the store
  std::optional<FileNotice> fileNotice_;
  Subscription willTerminate_;
  std::vector<Subscription> rules_;  // disconnected before the rest, after the writer's last report
  // Declared last: destroyed first, writing what waits while the store can still take its report.
  SettingsWriter writer_;
};
