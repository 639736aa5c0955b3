#include "display/DDCBrightness/DDCBrightnessController.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Numbers.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "ports/SystemPorts.hpp"
#include "services/DDCDebug.hpp"
#include "settings/BrightnessSafety.hpp"

namespace {
// Full logical brightness, as far as keeping the launch brightness goes.
constexpr double kStartupFullLevel = 99.9;
// Absorbs rounding in the clock arithmetic, so the deferred re-apply, which
// runs exactly one throttle interval later, is not held back a second time.
constexpr double kClockSlack = 1e-6;

template <typename MakeText>
void log(DisplayID displayID, MakeText&& makeText) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, makeText()); });
}

// The logical level within 0...100; an unknown level counts as full.
double clampedLogical(double brightnessPercent) {
  return std::isnan(brightnessPercent) ? 100 : std::clamp(brightnessPercent, 0.0, 100.0);
}

std::string joinedIDs(const std::set<DisplayID>& displayIDs) {
  std::string text;
  for (DisplayID displayID : displayIDs) {
    if (!text.empty()) text += ',';
    text += std::to_string(displayID);
  }
  return text;
}

std::string integerText(double value) { return std::to_string(static_cast<long long>(roundHalfAwayFromZero(value))); }
}  // namespace

double DDCBrightnessController::displayMaximumPercent(DisplayID displayID, const std::map<DisplayID, double>& maximums,
                                                      double safetyMinimumPercent) {
  const auto entry = maximums.find(displayID);
  const double m = entry != maximums.end() ? entry->second : 100;
  const double floor = BrightnessSafety::normalizedSafetyMinimum(safetyMinimumPercent);
  return std::isfinite(m) ? std::min(std::max(m, floor), 100.0) : 100;
}

DDCBrightnessController::Range DDCBrightnessController::displayRange(DisplayID displayID,
                                                                     const std::map<DisplayID, double>& maximums,
                                                                     const std::map<DisplayID, double>& minimums,
                                                                     double safetyMinimumPercent) {
  const double floor = BrightnessSafety::normalizedSafetyMinimum(safetyMinimumPercent);
  const double maximum = displayMaximumPercent(displayID, maximums, safetyMinimumPercent);
  const auto minimumEntry = minimums.find(displayID);
  const double n = minimumEntry != minimums.end() ? minimumEntry->second : safetyMinimumPercent;
  const double minimum = std::isfinite(n) ? std::min(maximum, std::min(std::max(n, floor), 100.0)) : maximum;
  return {maximum, minimum};
}

double DDCBrightnessController::actualLevel(double brightnessPercent, const Range& range) {
  return range.minimum + (range.maximum - range.minimum) * clampedLogical(brightnessPercent) / 100;
}

void DDCBrightnessController::apply(double brightnessPercent, const std::set<DisplayID>& targetDisplayIDs,
                                    const std::map<DisplayID, double>& displayMaximumPercents,
                                    const std::map<DisplayID, double>& displayMinimumPercents,
                                    const std::map<DisplayID, bool>& displayFullGammaModes,
                                    double safetyMinimumPercent) {
  pendingWrite_.cancel();
  const double logical = clampedLogical(brightnessPercent);
  DDCDebug::log([&] {
    return "apply logicalBrightness=" + integerText(logical) + "% targets=" + joinedIDs(targetDisplayIDs);
  });

  std::map<DisplayID, double> actualLevels;
  std::set<DisplayID> fullGammaIDs;
  bool deferredWriteNeeded = false;
  for (DisplayID displayID : targetDisplayIDs) {
    const Range range = displayRange(displayID, displayMaximumPercents, displayMinimumPercents, safetyMinimumPercent);
    const double actual = actualLevel(logical, range);
    const int value = static_cast<int>(roundHalfAwayFromZero(actual));
    actualLevels[displayID] = actual;

    if (const auto mode = displayFullGammaModes.find(displayID); mode != displayFullGammaModes.end() && mode->second) {
      ControlStatusStore::shared().set(ControlStatus::gamma, displayID);
      fullGammaIDs.insert(displayID);
      forget(displayID);
      log(displayID, [&] { return "full gamma mode actual=" + std::to_string(value) + "%"; });
      continue;
    }
    if (preserveStartupBrightness_ && !startupPreservedDisplays_.contains(displayID) &&
        !lastAppliedByDisplay_.contains(displayID) && logical >= kStartupFullLevel) {
      startupPreservedDisplays_.insert(displayID);
      log(displayID, [] { return std::string("preserving startup brightness because current max is not verified yet"); });
      continue;
    }
    if (const auto last = lastAppliedByDisplay_.find(displayID);
        last != lastAppliedByDisplay_.end() && last->second == value)
      continue;
    if (shouldDelayWrite(displayID, value)) {
      deferredWriteNeeded = true;
      continue;
    }
    if (!DDCIO::setBrightness(displayID, static_cast<std::uint16_t>(value))) {
      ControlStatusStore::shared().set(ControlStatus::failed, displayID);
      log(displayID, [] { return std::string("failed"); });
      continue;
    }
    ControlStatusStore::shared().set(ControlStatus::hardware, displayID);
    lastAppliedByDisplay_[displayID] = value;
    if (MainLoop* loop = systemPorts().mainLoop) lastWriteAtByDisplay_[displayID] = loop->uptime();
    log(displayID, [&] {
      return "success actual=" + std::to_string(value) + "% max=" + integerText(range.maximum) + "%";
    });
  }

  std::vector<DisplayID> departed;
  for (const auto& [displayID, value] : lastAppliedByDisplay_)
    if (!targetDisplayIDs.contains(displayID)) departed.push_back(displayID);
  for (DisplayID displayID : departed) forget(displayID);

  gammaController_.apply(actualLevels, targetDisplayIDs, fullGammaIDs, safetyMinimumPercent);

  MainLoop* loop = systemPorts().mainLoop;
  if (!deferredWriteNeeded || !loop) return;
  pendingWrite_ = loop->after(kThrottleSeconds, [this, brightnessPercent, targetDisplayIDs, displayMaximumPercents,
                                                 displayMinimumPercents, displayFullGammaModes, safetyMinimumPercent] {
    // The re-apply replaces this work; keep the arguments alive on our own
    // stack rather than inside the work being replaced.
    const auto targets = targetDisplayIDs;
    const auto maximums = displayMaximumPercents;
    const auto minimums = displayMinimumPercents;
    const auto fullGamma = displayFullGammaModes;
    pendingWrite_.detach();
    apply(brightnessPercent, targets, maximums, minimums, fullGamma, safetyMinimumPercent);
  });
}

bool DDCBrightnessController::shouldDelayWrite(DisplayID displayID, int nextValue) const {
  const auto last = lastAppliedByDisplay_.find(displayID);
  if (last == lastAppliedByDisplay_.end()) return false;
  if (nextValue > last->second || last->second - nextValue > 1) return false;
  const auto writtenAt = lastWriteAtByDisplay_.find(displayID);
  const MainLoop* loop = systemPorts().mainLoop;
  // Without a clock there is no way to come back later: write now.
  if (writtenAt == lastWriteAtByDisplay_.end() || !loop) return false;
  return loop->uptime() - writtenAt->second < kThrottleSeconds - kClockSlack;
}

void DDCBrightnessController::forget(DisplayID displayID) {
  lastAppliedByDisplay_.erase(displayID);
  lastWriteAtByDisplay_.erase(displayID);
  startupPreservedDisplays_.erase(displayID);
}

void DDCBrightnessController::restoreBrightness(const std::set<DisplayID>& displayIDs,
                                                const std::map<DisplayID, double>& maximums,
                                                const std::map<DisplayID, bool>& fullGamma, double safety) {
  invalidateDisplayState();
  for (DisplayID displayID : displayIDs) {
    if (const auto mode = fullGamma.find(displayID); mode != fullGamma.end() && mode->second) {
      ControlStatusStore::shared().set(ControlStatus::gamma, displayID);
      continue;
    }
    const int value = static_cast<int>(roundHalfAwayFromZero(displayMaximumPercent(displayID, maximums, safety)));
    const bool written = DDCIO::setBrightness(displayID, static_cast<std::uint16_t>(value));
    ControlStatusStore::shared().set(written ? ControlStatus::hardware : ControlStatus::failed, displayID);
    if (written) lastAppliedByDisplay_[displayID] = value;
    startupPreservedDisplays_.insert(displayID);
  }
}

void DDCBrightnessController::invalidateDisplayState() {
  DDCIO::clearCaches();
  preserveStartupBrightness_ = false;
  pendingWrite_.cancel();
  lastAppliedByDisplay_.clear();
  lastWriteAtByDisplay_.clear();
  gammaController_.restoreAll();
  ControlStatusStore::shared().clear();
}
