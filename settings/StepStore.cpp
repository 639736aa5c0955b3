// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/StepStore.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <tuple>

#include "base/Numbers.hpp"
#include "display/BrightnessSafety.hpp"
#include "ports/SystemNotifications.hpp"
#include "services/AppLog.hpp"
#include "services/DDCDebug.hpp"
#include "services/L10n.hpp"
#include "settings/AtomicFile.hpp"

StepStore::StepStore(const Ports& ports)
    : writer_(
          ports.mainLoop,
          [this](const std::string&, const std::optional<std::string>& failure) { handleWritten(failure); },
          writeFileAtomically) {
  // Nothing is lost at quit: the last save reaches the disk before the process ends.
  if (ports.notifications) willTerminate_ = ports.notifications->willTerminate.connect([this] { flushSaves(); });
  observeRules();
  configURL_ = defaultConfigURL(ports.environment);
  migrateLegacyConfigIfNeeded(configURL_, ports.environment);
  load();
}

// ---- property rules ----------------------------------------------------------

// A rule that corrects its value assigns it again; the second pass finds the
// value in range and saves, so each assignment saves once.
void StepStore::observeRules() {
  const auto watch = [this](auto& property, auto rule) {
    rules_.push_back(property.changed.connect([this, rule](const auto& value) {
      objectWillChange.emit();
      rule(value);
    }));
  };
  watch(fadeDurationSeconds, [this](double value) {
    const double clamped = Setting::fadeDurationSeconds.clamped(value);
    if (clamped != value) fadeDurationSeconds = clamped;
    else requestSave();
  });
  watch(frameRate, [this](double value) {
    const double clamped = Setting::frameRate.clamped(value);
    if (!nearlyEqual(clamped, value)) frameRate = clamped;
    else requestSave();
  });
  watch(fadeCurve, [this](FadeCurve) { requestSave(); });
  watch(pauseDuringMediaPlayback, [this](bool) { requestSave(); });
  watch(selectedDisplayIDs, [this](const std::set<DisplayID>&) { requestSave(); });
  watch(language, [this](AppLanguage value) {
    L10n::setPreferredLanguage(value.code());
    requestSave();
  });
  const auto shortcutRule = [this](Published<std::string>& property, std::string_view fallback) {
    return [this, &property, fallback](const std::string& value) {
      auto normalized = normalizedShortcutKey(value, fallback);
      if (normalized != value) property = std::move(normalized);
      else requestSave();
    };
  };
  watch(increaseMaxShortcutKey, shortcutRule(increaseMaxShortcutKey, Setting::increaseMaxShortcutKey.defaultValue));
  watch(decreaseMaxShortcutKey, shortcutRule(decreaseMaxShortcutKey, Setting::decreaseMaxShortcutKey.defaultValue));
  watch(loggingEnabled, [this](bool value) {
    DDCDebug::setEnabled(value);
    requestSave();
  });
  watch(safetyMinimumPercent, [this](double value) {
    const double normalized = BrightnessSafety::normalizedSafetyMinimum(value);
    if (normalized != value) {
      safetyMinimumPercent = normalized;
      return;
    }
    normalizeDisplayLimits();
    requestSave();
  });
  // The full-gamma operations save themselves.
  watch(displayFullGammaModes, [](const std::map<DisplayID, bool>&) {});
}

// ---- shortcut keys -----------------------------------------------------------

namespace {
struct Scalar {
  char32_t value;
  std::size_t length;  // bytes; an invalid sequence counts as one byte
  bool valid;
};

Scalar scalarAt(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || at + length > text.size()) return {0, 1, false};
  char32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return {0, 1, false};
    value = (value << 6) | (next & 0x3F);
  }
  return {value, length, true};
}

// Unicode white space and line breaks.
bool isWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trimmed(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const Scalar scalar = scalarAt(text, begin);
    if (!isWhiteSpace(scalar.value)) break;
    begin += scalar.length;
  }
  // Scan forward so multi-byte scalars are decoded from their lead byte.
  std::size_t end = begin;
  for (std::size_t at = begin; at < text.size();) {
    const Scalar scalar = scalarAt(text, at);
    at += scalar.length;
    if (!isWhiteSpace(scalar.value)) end = at;
  }
  return text.substr(begin, end - begin);
}

}  // namespace

std::string StepStore::normalizedShortcutKey(std::string_view key, std::string_view fallback) {
  const std::string_view text = trimmed(key);
  if (text.empty()) return std::string(fallback);
  std::string lower(text);
  // The names compared against are ASCII, so ASCII folding decides exactly.
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  for (const std::string_view name : {"brightness_up", "brightness_down", "f1", "f2"})
    if (lower == name) return lower;
  const Scalar first = scalarAt(text, 0);
  if (!first.valid) return "\xEF\xBF\xBD";  // U+FFFD: invalid bytes never reach the file
  return std::string(text.substr(0, first.length));
}

// ---- steps -------------------------------------------------------------------

void StepStore::setSteps(std::vector<IdleStep> steps) {
  if (steps == storedSteps_) return;
  const bool sameShape = steps.size() == storedSteps_.size() &&
                         std::equal(steps.begin(), steps.end(), storedSteps_.begin(), [](const IdleStep& a, const IdleStep& b) {
                           return a.id == b.id && a.idleSeconds == b.idleSeconds;
                         });
  storedSteps_ = std::move(steps);
  stepBrightnessChanges.emit();
  if (!sameShape) objectWillChange.emit();
  requestSave();
}

void StepStore::add() {
  // After the latest step, even one the file holds below 0 (normalize raises it later).
  std::optional<double> latest;
  for (const IdleStep& step : storedSteps_)
    if (!std::isnan(step.idleSeconds)) latest = std::max(latest.value_or(step.idleSeconds), step.idleSeconds);
  auto steps = storedSteps_;
  steps.push_back(IdleStep{Uuid::random(), latest.value_or(0) + 30, 50});
  setSteps(std::move(steps));
  normalize();
}

void StepStore::removeStep(const Uuid& id) {
  if (storedSteps_.size() < 2) return;
  auto steps = storedSteps_;
  std::erase_if(steps, [&id](const IdleStep& step) { return step.id == id; });
  setSteps(std::move(steps));
  normalize();
}

void StepStore::sortStepsByIdleSeconds() {
  struct Keyed {
    bool unordered;  // NaN seconds sort last instead of breaking the ordering
    double seconds;
    std::string id;
    const IdleStep* step;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(storedSteps_.size());
  for (const IdleStep& step : storedSteps_)
    keyed.push_back({std::isnan(step.idleSeconds), std::isnan(step.idleSeconds) ? 0 : step.idleSeconds,
                     step.id.uuidString(), &step});
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return std::tie(a.unordered, a.seconds, a.id) < std::tie(b.unordered, b.seconds, b.id);
  });
  std::vector<IdleStep> sorted;
  sorted.reserve(keyed.size());
  for (const Keyed& k : keyed) sorted.push_back(*k.step);
  setSteps(std::move(sorted));
}

// Bracketed like an edit: the re-applied rules end in one write, not one per setting.
void StepStore::normalize() {
  beginInteractiveEdit();
  fadeDurationSeconds = Setting::fadeDurationSeconds.clamped(fadeDurationSeconds.get());
  frameRate = Setting::frameRate.clamped(frameRate.get());
  L10n::setPreferredLanguage(language.get().code());
  increaseMaxShortcutKey =
      normalizedShortcutKey(increaseMaxShortcutKey.get(), Setting::increaseMaxShortcutKey.defaultValue);
  decreaseMaxShortcutKey =
      normalizedShortcutKey(decreaseMaxShortcutKey.get(), Setting::decreaseMaxShortcutKey.defaultValue);
  DDCDebug::setEnabled(loggingEnabled);

  auto steps = storedSteps_;
  for (IdleStep& step : steps) {
    // An infinite wait stays "never" but finite, so the file can hold it.
    step.idleSeconds = std::isnan(step.idleSeconds) ? 0 : std::clamp(step.idleSeconds, 0.0, std::numeric_limits<double>::max());
    step.brightnessPercent = std::isnan(step.brightnessPercent) ? 0 : std::clamp(step.brightnessPercent, 0.0, 100.0);
  }
  setSteps(std::move(steps));
  endInteractiveEdit();
}

void StepStore::resetToDefaults(const std::vector<DisplayID>& activeDisplayIDs) {
  const AppConfig defaults = defaultConfig();
  const std::set<DisplayID> active(activeDisplayIDs.begin(), activeDisplayIDs.end());
  beginInteractiveEdit();
  assignGeneralSettings(defaults);
  selectedDisplayIDs = active;

  std::map<DisplayID, double> maximums, minimums;
  std::map<DisplayID, bool> fullGamma;
  for (const DisplayID id : active) {
    maximums[id] = 100;
    minimums[id] = defaults.safetyMinimumPercent;
    fullGamma[id] = false;
  }
  setDisplayMaximumPercents(std::move(maximums));
  setDisplayMinimumPercents(std::move(minimums));
  displayFullGammaModes = std::move(fullGamma);
  displayProfiles_.clear();
  manualBrightnessPercent = defaults.manualBrightnessPercent;
  requestSave();
  endInteractiveEdit();
}

// ---- saving ------------------------------------------------------------------

void StepStore::beginInteractiveEdit() { ++interactiveEditDepth_; }

void StepStore::endInteractiveEdit() {
  interactiveEditDepth_ = std::max(interactiveEditDepth_ - 1, 0);
  if (interactiveEditDepth_ <= 0 && hasPendingSave_) {
    hasPendingSave_ = false;
    saveConfig();
  }
}

void StepStore::requestSave() {
  if (interactiveEditDepth_ < 1) saveConfig();
  else hasPendingSave_ = true;
}

AppConfig StepStore::currentConfig() const {
  AppConfig config;
  config.fadeDurationSeconds = fadeDurationSeconds;
  config.frameRate = frameRate;
  config.fadeCurve = fadeCurve;
  config.language = language;
  config.increaseMaxShortcutKey = increaseMaxShortcutKey;
  config.decreaseMaxShortcutKey = decreaseMaxShortcutKey;
  config.loggingEnabled = loggingEnabled;
  config.pauseDuringMediaPlayback = pauseDuringMediaPlayback;
  config.safetyMinimumPercent = safetyMinimumPercent;
  // An empty list is never written: the next start would have no steps to read.
  config.steps = storedSteps_.empty() ? defaultSteps() : storedSteps_;
  config.selectedDisplayIDs.assign(selectedDisplayIDs.get().begin(), selectedDisplayIDs.get().end());
  config.displayMaximumPercents = maximums_;
  config.displayMinimumPercents = minimums_;
  config.displayFullGammaModes = displayFullGammaModes;
  config.displayProfiles = displayProfiles_;
  config.manualBrightnessPercent = manualBrightnessPercent;
  return config;
}

void StepStore::saveConfig() {
  // A file that could not be read still holds the user's settings.
  if (fileNotice_ && fileNotice_->kind == FileNotice::Kind::unreadable) return;
  captureDisplayProfiles();
  const auto bytes = encodeConfig(currentConfig());
  if (!bytes) return;  // a non-finite number; the next change tries again
  // Written even when the file should hold the same already: it may have
  // been edited or replaced by hand meanwhile, and the window shows these.
  ++completedSaves_;
  writer_.save(configURL_, *bytes);
}

void StepStore::handleWritten(const std::optional<std::string>& failure) {
  if (!failure) return;
  --completedSaves_;
  AppLog::app.error("Failed to save config: " + *failure);
}

// ---- loading -----------------------------------------------------------------

namespace {
// A temporary file this old was left by a save that never finished.
constexpr std::chrono::seconds kTemporaryFileMinimumAge{60};
}  // namespace

// Adoption runs inside an edit: every assignment asks for a save like a user
// edit, and the bracket turns those into one write of the normalized result
// instead of one fsync'd write per field.
void StepStore::load() {
  beginInteractiveEdit();
  removeStaleTemporaryFiles(configURL_, kTemporaryFileMinimumAge);
  if (const auto link = replacedFile(configURL_).linkNotFollowed) AppLog::app.error(*link);
  const FileContents file = readWholeFile(configURL_, kLargestConfigBytes);
  const auto& bytes = file.bytes;
  std::vector<IgnoredValue> ignored;
  if (file.tooLarge) {
    keepUnusableFile(std::to_string(file.size) + " bytes is more than any configuration holds");
    adopt(defaultConfig(), false);
  } else if (file.notRegularFile) {
    keepUnusableFile("it is " + *file.unreadable + ", not a regular file");
    adopt(defaultConfig(), false);
  } else if (file.unreadable) {
    // Not a missing file: it still holds the user's settings, so it is neither
    // replaced nor moved; this run keeps its changes in memory.
    fileNotice_ = FileNotice{FileNotice::Kind::unreadable, *file.unreadable};
    AppLog::app.error("Cannot read " + configURL_.string() + " (" + *file.unreadable +
                      "): the default settings are used and nothing is saved to it until it can be read");
    adopt(defaultConfig(), false);
  } else if (!bytes) {
    adopt(defaultConfig(), false);
  } else if (const auto config = decodeConfig(*bytes, &ignored)) {
    if (!ignored.empty()) keepPartlyUsableFile(ignored);
    adopt(*config, true);
  } else if (auto steps = decodeLegacySteps(*bytes); steps && !steps->empty()) {
    AppConfig legacy = defaultConfig();
    legacy.steps = std::move(*steps);
    adopt(legacy, true);
  } else {
    keepUnusableFile("it is not a valid configuration");
    adopt(defaultConfig(), false);
  }
  endInteractiveEdit();
}

void StepStore::keepUnusableFile(const std::string& reason) {
  const KeptAside kept = keepAside(configURL_, ".bad");
  if (kept.failure) {
    AppLog::app.error("Ignored " + configURL_.string() + " (" + reason + ") and could not keep it: " + *kept.failure);
    return;
  }
  AppLog::app.error("Ignored " + configURL_.string() + " (" + reason + "); it is kept as " + kept.path.string() +
                    " and the defaults are used");
}

// The other settings are used; the file as it was is kept for the values the rewrite drops.
void StepStore::keepPartlyUsableFile(const std::vector<IgnoredValue>& ignored) {
  std::string keys, problems;
  for (const IgnoredValue& value : ignored) {
    keys += (keys.empty() ? "" : ", ") + value.key;
    problems += (problems.empty() ? "" : "; ") + value.key + " " + value.problem;
  }
  fileNotice_ = FileNotice{FileNotice::Kind::valuesIgnored, keys};
  const KeptAside kept = keepAside(configURL_, ".bad");
  AppLog::app.error("Used the defaults for " + keys + " in " + configURL_.string() + " (" + problems + ")" +
                    (kept.failure ? "; could not keep the file as it was: " + *kept.failure
                                  : "; the file as it was is kept as " + kept.path.string()));
}

// Loading and resetting both assign these, in this order, before the per-display state.
void StepStore::assignGeneralSettings(const AppConfig& config) {
  fadeDurationSeconds = config.fadeDurationSeconds;
  frameRate = config.frameRate;
  fadeCurve = config.fadeCurve;
  language = config.language;
  increaseMaxShortcutKey = config.increaseMaxShortcutKey;
  decreaseMaxShortcutKey = config.decreaseMaxShortcutKey;
  loggingEnabled = false;  // diagnostic logging always starts off
  pauseDuringMediaPlayback = config.pauseDuringMediaPlayback;
  // The default record's 5 is already normalized, so both paths take the same rule.
  safetyMinimumPercent = BrightnessSafety::normalizedSafetyMinimum(config.safetyMinimumPercent);
  setSteps(config.steps);
}

void StepStore::adopt(const AppConfig& config, bool fromFile) {
  assignGeneralSettings(config);
  selectedDisplayIDs = std::set<DisplayID>(config.selectedDisplayIDs.begin(), config.selectedDisplayIDs.end());
  setDisplayMaximumPercents(config.displayMaximumPercents);
  setDisplayMinimumPercents(config.displayMinimumPercents);
  displayFullGammaModes = config.displayFullGammaModes;
  displayProfiles_ = config.displayProfiles;
  manualBrightnessPercent = config.manualBrightnessPercent;
  if (fromFile) {
    normalizeDisplayLimits();
    normalize();
  } else {
    requestSave();  // so the default file exists
  }
}
