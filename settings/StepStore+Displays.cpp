// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>

#include "display/BrightnessSafety.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "services/AppLog.hpp"
#include "settings/StepStore.hpp"

// ---- derived limits ----------------------------------------------------------

double StepStore::limitClamp(double value) const {
  if (!std::isfinite(value)) return 100;
  return std::clamp(value, BrightnessSafety::normalizedSafetyMinimum(safetyMinimumPercent), 100.0);
}

double StepStore::displayMaximumPercent(DisplayID id) const {
  const auto found = maximums_.find(id);
  return limitClamp(found == maximums_.end() ? 100.0 : found->second);
}

double StepStore::displayMinimumPercent(DisplayID id) const {
  const auto found = minimums_.find(id);
  const double minimum = limitClamp(found == minimums_.end() ? safetyMinimumPercent.get() : found->second);
  return std::min(minimum, displayMaximumPercent(id));
}

bool StepStore::hasFixedRange(DisplayID id) const { return displayMaximumPercent(id) <= displayMinimumPercent(id); }

// Selected displays whose range has shrunk to one value; the menu marks them.
std::set<DisplayID> StepStore::fixedRangeIDs() const {
  std::set<DisplayID> fixed;
  for (const DisplayID id : selectedDisplayIDs.get())
    if (hasFixedRange(id)) fixed.insert(id);
  return fixed;
}

// ---- assigning limits --------------------------------------------------------

void StepStore::assignLimitMap(std::map<DisplayID, double>& stored, std::map<DisplayID, double> value) {
  if (value == stored) return;
  const auto fixedBefore = fixedRangeIDs();
  stored = std::move(value);
  rangeChanges.emit();
  if (fixedRangeIDs() != fixedBefore) objectWillChange.emit();
  requestSave();
}

void StepStore::setDisplayMaximumPercents(std::map<DisplayID, double> maximums) {
  assignLimitMap(maximums_, std::move(maximums));
}

void StepStore::setDisplayMinimumPercents(std::map<DisplayID, double> minimums) {
  assignLimitMap(minimums_, std::move(minimums));
}

void StepStore::setDisplayMaximumPercent(double value, DisplayID id) {
  auto maximums = maximums_;
  maximums[id] = std::max(displayMinimumPercent(id), limitClamp(value));
  setDisplayMaximumPercents(std::move(maximums));
}

void StepStore::setDisplayMinimumPercent(double value, DisplayID id) {
  auto minimums = minimums_;
  minimums[id] = std::min(limitClamp(value), displayMaximumPercent(id));
  setDisplayMinimumPercents(std::move(minimums));
}

void StepStore::setDisplayUsesFullGammaMode(bool enabled, DisplayID id) {
  auto modes = displayFullGammaModes.get();
  modes[id] = enabled;
  displayFullGammaModes = std::move(modes);
  requestSave();
}

void StepStore::normalizeDisplayLimits() {
  const auto clamped = [this](std::map<DisplayID, double> map) {
    for (auto& [id, value] : map) value = limitClamp(value);
    return map;
  };
  setDisplayMaximumPercents(clamped(maximums_));
  setDisplayMinimumPercents(clamped(minimums_));

  std::set<DisplayID> ids;
  for (const auto& entry : maximums_) ids.insert(entry.first);
  for (const auto& entry : minimums_) ids.insert(entry.first);
  for (const DisplayID id : ids) {
    const auto minimum = minimums_.find(id);
    const auto maximum = maximums_.find(id);
    auto minimums = minimums_;
    minimums[id] = std::min(minimum == minimums_.end() ? safetyMinimumPercent.get() : minimum->second,
                            maximum == maximums_.end() ? 100.0 : maximum->second);
    setDisplayMinimumPercents(std::move(minimums));
  }
}

// ---- profiles ----------------------------------------------------------------

void StepStore::captureDisplayProfiles() {
  for (const auto& [id, key] : connectedDisplayKeys_) {
    const auto gamma = displayFullGammaModes.get().find(id);
    displayProfiles_[key] = SavedDisplayProfile{
        displayMinimumPercent(id),
        displayMaximumPercent(id),
        gamma != displayFullGammaModes.get().end() && gamma->second,
        selectedDisplayIDs.get().contains(id),
        !maximums_.contains(id),  // never read nor set: the 100 is a stand-in
    };
  }
}

void StepStore::syncDisplayMaximumsFromCurrentBrightness(const std::vector<DisplayID>& ids) {
  std::erase_if(maximumReads_, [&](const auto& read) { return std::find(ids.begin(), ids.end(), read.first) == ids.end(); });
  for (const DisplayID id : ids) {
    // Read once a session even when a maximum is stored: writes are scaled
    // to what the monitor counts up to. Once read (and so once driven), what
    // it shows is our level, not its user's.
    if (maximumReads_.contains(id) || DDCIO::brightnessMaximum(id)) continue;
    // A display whose own level is followed has no maximum to read.
    if (const auto info = DDCIO::displayInfo(id); info && DDCIO::followsOwnLevel(*info)) continue;
    maximumReads_[id] = DDCIO::readBrightnessUntilAnswered(id, [this, id](std::optional<double> percent) {
      finishMaximumRead(id, percent);
    });
  }

  for (const DisplayID id : ids) {
    if (minimums_.contains(id)) continue;
    auto minimums = minimums_;
    minimums[id] = safetyMinimumPercent;
    setDisplayMinimumPercents(std::move(minimums));
  }
  for (const DisplayID id : ids) {
    if (displayFullGammaModes.get().contains(id)) continue;
    auto modes = displayFullGammaModes.get();
    modes[id] = false;
    displayFullGammaModes = std::move(modes);
    requestSave();
  }
  // Written even inside an edit: the seeded maximums must survive a crash.
  saveConfig();
}

void StepStore::finishMaximumRead(DisplayID id, std::optional<double> percent) {
  const auto read = maximumReads_.extract(id);  // its work ends with this call
  if (percent && !maximums_.contains(id)) {
    auto maximums = maximums_;
    maximums[id] = std::max(limitClamp(*percent), displayMinimumPercent(id));
    // Saved as any change is: a maximum lost in a crash is read again at the next start.
    setDisplayMaximumPercents(std::move(maximums));
    normalizeDisplayLimits();
  }
  maximumReadEnded.emit();
}

// A display whose key changed (the rules for keys got better) takes the
// profile stored under a key it had before, once: its new key's own profile
// is never overwritten, and the former entry goes, so that no display
// plugged in later adopts stale values from it. Displays that had one
// former key together (identical monitors) each get a copy.
void StepStore::adoptFormerProfiles(const std::vector<DisplayTarget>& targets,
                                    const std::map<std::string, int>& keyCounts) {
  std::map<std::string, SavedDisplayProfile> adoptions;
  std::set<std::string> adopted;
  for (const DisplayTarget& target : targets) {
    if (!target.stableID || keyCounts.at(*target.stableID) != 1 || displayProfiles_.contains(*target.stableID))
      continue;
    for (const std::string& former : target.formerStableIDs) {
      const auto profile = displayProfiles_.find(former);
      // A key some connected display has now is that display's, not a former one.
      if (profile == displayProfiles_.end() || keyCounts.contains(former)) continue;
      adoptions[*target.stableID] = profile->second;
      adopted.insert(former);
      AppLog::app.log("Display settings stored under " + former + " now belong to " + *target.stableID);
      break;
    }
  }
  if (adoptions.empty()) return;
  for (const std::string& former : adopted) displayProfiles_.erase(former);
  displayProfiles_.merge(adoptions);
  requestSave();
}

void StepStore::reconcileDisplays(const std::vector<DisplayTarget>& targets) {
  captureDisplayProfiles();
  beginInteractiveEdit();

  std::map<std::string, int> keyCounts;
  for (const DisplayTarget& target : targets)
    if (target.stableID) ++keyCounts[*target.stableID];
  adoptFormerProfiles(targets, keyCounts);

  connectedDisplayKeys_.clear();
  for (const DisplayTarget& target : targets) {
    // Without a key, or with one another connected display shares, the
    // display keeps only its ID-keyed values.
    if (!target.stableID || keyCounts[*target.stableID] != 1) continue;
    const DisplayID id = target.displayID;
    const std::string& key = *target.stableID;
    connectedDisplayKeys_[id] = key;
    if (displayProfiles_.empty()) continue;  // first start, or a file from before profiles

    auto maximums = maximums_;
    auto minimums = minimums_;
    auto modes = displayFullGammaModes.get();
    auto selected = selectedDisplayIDs.get();
    if (const auto profile = displayProfiles_.find(key); profile != displayProfiles_.end()) {
      const SavedDisplayProfile saved = profile->second;
      // An unread maximum is left for the read below to fill in.
      if (saved.maximumUnread) maximums.erase(id);
      else maximums[id] = saved.maximum;
      setDisplayMaximumPercents(std::move(maximums));
      minimums = minimums_;
      minimums[id] = saved.minimum;
      setDisplayMinimumPercents(std::move(minimums));
      modes[id] = saved.fullGamma;
      if (saved.selected) selected.insert(id);
      else selected.erase(id);
    } else {
      // A monitor never seen before: dimmed by default, from its own brightness.
      maximums.erase(id);
      minimums.erase(id);
      modes.erase(id);
      selected.insert(id);
      setDisplayMaximumPercents(std::move(maximums));
      setDisplayMinimumPercents(std::move(minimums));
    }
    displayFullGammaModes = std::move(modes);
    selectedDisplayIDs = std::move(selected);
  }

  std::vector<DisplayID> ids;
  ids.reserve(targets.size());
  for (const DisplayTarget& target : targets) ids.push_back(target.displayID);
  syncDisplayMaximumsFromCurrentBrightness(ids);
  normalizeDisplayLimits();
  endInteractiveEdit();
}
