// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/Uuid.hpp"
#include "display/BrightnessSafety.hpp"

// One dimming step: after `idleSeconds` without input, go to
// `brightnessPercent` of each display's allowed range.
struct IdleStep {
  Uuid id = Uuid::random();
  double idleSeconds = 0;
  double brightnessPercent = 0;

  bool operator==(const IdleStep&) const = default;
};

// What is remembered of one physical display, keyed by its stable key.
struct SavedDisplayProfile {
  double minimum = 0;
  double maximum = 100;
  bool fullGamma = false;
  bool selected = false;
  // The maximum is the stand-in of a monitor whose brightness could not be
  // read yet; a later start reads it. Written only when set.
  bool maximumUnread = false;

  bool operator==(const SavedDisplayProfile&) const = default;
};

// Easing curve of fades. Behaves like an enumeration (`FadeCurve::easeOut`,
// `switch (curve)`) and carries its persisted value and localized title.
class FadeCurve {
 public:
  enum Case : std::uint8_t { easeIn, easeInOut, easeOut, linear };

  constexpr FadeCurve(Case value = easeOut) : value_(value) {}  // implicit, as an enum value converts
  constexpr operator Case() const { return value_; }

  // Listing order of the interface.
  static constexpr std::array<Case, 4> allCases{easeIn, easeInOut, easeOut, linear};

  std::string_view rawValue() const;  // "easeIn", "easeInOut", "easeOut", "linear"
  static std::optional<FadeCurve> fromRawValue(std::string_view raw);
  std::string_view titleKey() const;  // "curve_ease_in", ...
  std::string title() const;          // localized text of titleKey()

 private:
  Case value_;
};

// Interface language; `system` follows the session's preferred languages.
class AppLanguage {
 public:
  enum Case : std::uint8_t { system, en, ja };

  constexpr AppLanguage(Case value = system) : value_(value) {}  // implicit, as an enum value converts
  constexpr operator Case() const { return value_; }

  static constexpr std::array<Case, 3> allCases{system, en, ja};

  std::string_view rawValue() const;  // "system", "en", "ja"
  // The language code the texts are looked up by; nullopt for `system`.
  std::optional<std::string> code() const;
  static std::optional<AppLanguage> fromRawValue(std::string_view raw);

 private:
  Case value_;
};

// ---- the settings table ------------------------------------------------------
// Each setting's key in the file and its default, and for numbers their range:
// the file reader and writer, the store and the engine all take them from here.

template <typename Value>
struct SettingRow {
  std::string_view key;
  Value defaultValue;
};

struct NumberSettingRow {
  std::string_view key;
  double defaultValue;
  double minimum;
  double maximum;
  // The range's rule: beyond it the nearer end; no number, or a value the
  // file could not hold (infinite), the minimum.
  double clamped(double value) const {
    if (std::isnan(value)) return minimum;
    const double inRange = value < minimum ? minimum : value > maximum ? maximum : value;
    return std::isfinite(inRange) ? inRange : minimum;
  }
};

namespace Setting {
inline constexpr NumberSettingRow fadeDurationSeconds{"fadeDurationSeconds", 6, 0,
                                                      std::numeric_limits<double>::infinity()};
inline constexpr NumberSettingRow frameRate{"frameRate", 24, 1, 60};
inline constexpr SettingRow<FadeCurve> fadeCurve{"fadeCurve", FadeCurve::easeOut};
inline constexpr SettingRow<AppLanguage> language{"language", AppLanguage::system};
inline constexpr SettingRow<std::string_view> increaseMaxShortcutKey{"increaseMaxShortcutKey", "f2"};
inline constexpr SettingRow<std::string_view> decreaseMaxShortcutKey{"decreaseMaxShortcutKey", "f1"};
inline constexpr SettingRow<bool> loggingEnabled{"loggingEnabled", false};
inline constexpr SettingRow<bool> pauseDuringMediaPlayback{"pauseDuringMediaPlayback", false};
// Snapped onto BrightnessSafety::minimumOptions, whose ends these are, rather than clamped.
inline constexpr NumberSettingRow safetyMinimumPercent{"safetyMinimumPercent", BrightnessSafety::defaultMinimum,
                                                       BrightnessSafety::minimumOptions.front(),
                                                       BrightnessSafety::minimumOptions.back()};
// Kept by the one percent rule, sanitizedPercent().
inline constexpr NumberSettingRow manualBrightnessPercent{"manualBrightnessPercent", 100, 0, 100};
}  // namespace Setting

// The whole persisted configuration, fields in file order. Member defaults are
// the default configuration except `steps` (see defaultConfig()).
struct AppConfig {
  double fadeDurationSeconds = Setting::fadeDurationSeconds.defaultValue;
  double frameRate = Setting::frameRate.defaultValue;
  FadeCurve fadeCurve = Setting::fadeCurve.defaultValue;
  AppLanguage language = Setting::language.defaultValue;
  std::string increaseMaxShortcutKey{Setting::increaseMaxShortcutKey.defaultValue};
  std::string decreaseMaxShortcutKey{Setting::decreaseMaxShortcutKey.defaultValue};
  bool loggingEnabled = Setting::loggingEnabled.defaultValue;
  bool pauseDuringMediaPlayback = Setting::pauseDuringMediaPlayback.defaultValue;
  double safetyMinimumPercent = Setting::safetyMinimumPercent.defaultValue;
  std::vector<IdleStep> steps;
  std::vector<DisplayID> selectedDisplayIDs;
  std::map<DisplayID, double> displayMaximumPercents;
  std::map<DisplayID, double> displayMinimumPercents;
  std::map<DisplayID, bool> displayFullGammaModes;
  std::map<std::string, SavedDisplayProfile> displayProfiles;
  double manualBrightnessPercent = Setting::manualBrightnessPercent.defaultValue;

  bool operator==(const AppConfig&) const = default;
};

// The four default steps (0 s -> 100 %, 180 -> 70, 600 -> 40, 1200 -> 20),
// each with a fresh id on every call.
std::vector<IdleStep> defaultSteps();
// The default configuration, with defaultSteps().
AppConfig defaultConfig();

// The file's text: every key, sorted keys, two-space indentation, " : "
// between key and value, ID-keyed maps as flat [id, value, ...] arrays.
// nullopt when a number is not finite (JSON cannot hold it).
std::optional<std::string> encodeConfig(const AppConfig& config);

// A key of the file whose value could not be used, and what was wrong with it.
struct IgnoredValue {
  std::string key;
  std::string problem;  // "holds the text \"30\" where a number belongs"

  bool operator==(const IgnoredValue&) const = default;
};

// Reads a configuration document tolerantly: a missing optional key takes its
// fallback, and so does a key whose value cannot be used (a wrong type, an
// unknown name, a malformed record), which is then listed in `ignored`, so one
// mistake does not cost the other settings. nullopt when the text is not a
// configuration document: not a JSON object, or `fadeDurationSeconds` or
// `steps` missing.
std::optional<AppConfig> decodeConfig(std::string_view bytes, std::vector<IgnoredValue>* ignored = nullptr);

// Reads the older document shape: a bare JSON array of step objects.
std::optional<std::vector<IdleStep>> decodeLegacySteps(std::string_view bytes);
