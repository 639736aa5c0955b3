// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/DDCBrightness/DDCBrightnessController.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/Numbers.hpp"
#include "display/BrightnessSafety.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "display/NearBlackGammaController.hpp"
#include "services/AppLog.hpp"
#include "services/DDCDebug.hpp"

namespace {
// A display in full-gamma mode is controlled through gamma only while it has gamma; otherwise the reason is its status.
void noteFullGammaStatus(const NearBlackGammaController& gamma, DisplayID displayID) {
  const auto reason = gamma.unavailableReason(displayID);
  ControlStatusStore::shared().set(reason ? std::string_view(*reason) : ControlStatus::gamma, displayID);
}

// Full logical brightness, as far as keeping the launch brightness goes.
constexpr double kStartupFullLevel = 99.9;
// Absorbs rounding in the clock arithmetic, so the deferred re-apply, which
// runs exactly one throttle interval later, is not held back a second time.
constexpr double kClockSlack = 1e-6;
constexpr double kNever = std::numeric_limits<double>::infinity();

template <typename MakeText>
void log(DisplayID displayID, MakeText&& makeText) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, makeText()); });
}

// The logical level within 0...100; an unknown level counts as full.
double clampedLogical(double brightnessPercent) {
  return sanitizedPercent(brightnessPercent);
}

std::string joinedIDs(const std::set<DisplayID>& displayIDs) {
  std::string text;
  for (DisplayID displayID : displayIDs) {
    if (!text.empty()) text += ',';
    text += std::to_string(displayID);
  }
  return text;
}

// The status a failed write leaves; the user-fixable causes say how to fix them.
std::string_view statusFor(DDCIO::WriteFailure failure, bool isMonitor) {
  switch (failure) {
    case DDCIO::WriteFailure::driverMissing: return ControlStatus::i2cMissing;
    case DDCIO::WriteFailure::notPermitted: return ControlStatus::i2cPermission;
    case DDCIO::WriteFailure::kernelDriver: return ControlStatus::kernelDriver;
    case DDCIO::WriteFailure::backlightNotPermitted: return ControlStatus::backlightPermission;
    case DDCIO::WriteFailure::noAnswer: return isMonitor ? ControlStatus::ddcSilent : ControlStatus::failed;
    case DDCIO::WriteFailure::noChannel: return isMonitor ? ControlStatus::noBus : ControlStatus::failed;
    default: return ControlStatus::failed;
  }
}

std::string_view writtenStatus(DisplayID displayID) {
  return DDCIO::isMaximumAssumed(displayID) ? ControlStatus::maximumAssumed : ControlStatus::hardware;
}

std::string integerText(double value) { return std::to_string(static_cast<long long>(roundHalfAwayFromZero(value))); }

template <typename Value>
void putBack(std::map<DisplayID, Value>& map, DisplayID displayID, const std::optional<Value>& value) {
  if (value)
    map[displayID] = *value;
  else
    map.erase(displayID);
}

// Reads of a panel within this many percent of what it was left at are the same level.
constexpr double kPanelTolerance = 0.5;

DDCBrightnessController::Range cappedRange(const DDCBrightnessController::Range& limits, double level) {
  const double maximum = std::min(limits.maximum, level);
  return {maximum, std::min(limits.minimum, maximum)};
}

// Where a panel rests at full logical brightness when its user set it to
// `level` while it was shown at logical level `logical`: the level its limits
// map that logical level onto.
double restLevelFor(double level, double logical, double minimum) {
  if (logical <= 0 || level <= minimum) return level;
  return std::min(100.0, minimum + (level - minimum) * 100 / logical);
}
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
  run({brightnessPercent, targetDisplayIDs, displayMaximumPercents, displayMinimumPercents, displayFullGammaModes,
       safetyMinimumPercent});
}

void DDCBrightnessController::run(const Request& request) {
  pendingWrite_.cancel();
  latest_ = request;
  const auto& targetDisplayIDs = request.targets;
  const auto& displayMaximumPercents = request.maximums;
  const auto& displayMinimumPercents = request.minimums;
  const auto& displayFullGammaModes = request.fullGammaModes;
  const double safetyMinimumPercent = request.safetyMinimumPercent;
  const double logical = clampedLogical(request.brightnessPercent);
  if (!request.restoring)
    DDCDebug::log([&] {
      return "apply logicalBrightness=" + integerText(logical) + "% targets=" + joinedIDs(targetDisplayIDs);
    });

  std::map<DisplayID, double> actualLevels;
  std::set<DisplayID> fullGammaIDs;  // full-gamma mode, and displays gamma stands in for
  double nextAttempt = kNever;  // seconds until the first held-back write may go out
  for (DisplayID displayID : targetDisplayIDs) {
    if (const auto mode = displayFullGammaModes.find(displayID); mode != displayFullGammaModes.end() && mode->second) {
      const double actual = actualLevel(
          logical, displayRange(displayID, displayMaximumPercents, displayMinimumPercents, safetyMinimumPercent));
      actualLevels[displayID] = actual;
      noteFullGammaStatus(gammaController_, displayID);
      fullGammaIDs.insert(displayID);
      forget(displayID);
      log(displayID, [&] { return "full gamma mode actual=" + integerText(actual) + "%"; });
      continue;
    }
    const Channel channel = this->channel(displayID);
    Range range = displayRange(displayID, displayMaximumPercents, displayMinimumPercents, safetyMinimumPercent);
    if (channel.isPanel) range = panelRange(displayID, range, logical);
    const double actual = actualLevel(logical, range);
    actualLevels[displayID] = actual;
    const bool awaitingRead = DDCIO::isReadingBrightness(displayID);
    if (awaitingRead)
      holdUntilRead(displayID, actual);
    else if (const double delay =
                 driveHardware(displayID, logical, channel.valueFor(actual), range, channel, request.restoring);
             delay > 0)
      nextAttempt = std::min(nextAttempt, delay);
    if (awaitingRead || gammaStandsIn(displayID)) {
      // The hardware stays where it is, taken to be the display's maximum:
      // gamma shows the rest of the way down, and nothing at full brightness.
      actualLevels[displayID] = actual / range.maximum * 100;
      fullGammaIDs.insert(displayID);
    }
  }

  std::set<DisplayID> departed;
  for (const auto& [displayID, value] : lastAppliedByDisplay_)
    if (!targetDisplayIDs.contains(displayID)) departed.insert(displayID);
  for (DisplayID displayID : gammaStandIns_)
    if (!targetDisplayIDs.contains(displayID)) departed.insert(displayID);
  for (DisplayID displayID : departed) forget(displayID);

  // Where gamma only stands in for the hardware, the hardware's status stays:
  // it says what the user can fix, also when gamma cannot help either.
  std::map<DisplayID, std::string> hardwareStatuses;
  for (DisplayID displayID : fullGammaIDs)
    if (const auto mode = displayFullGammaModes.find(displayID); mode == displayFullGammaModes.end() || !mode->second)
      hardwareStatuses[displayID] = ControlStatusStore::shared().status(displayID);
  gammaController_.apply(actualLevels, targetDisplayIDs, fullGammaIDs, safetyMinimumPercent);
  for (const auto& [displayID, status] : hardwareStatuses) ControlStatusStore::shared().set(status, displayID);

  scheduleReapply(nextAttempt);
}

void DDCBrightnessController::scheduleReapply(double seconds) {
  if (seconds == kNever) return;
  pendingWrite_ = loop_.after(seconds, [this] {
    pendingWrite_.detach();
    reapplyLatest();
  });
}

void DDCBrightnessController::reapplyLatest() {
  if (!latest_) return;
  const Request request = *latest_;  // run replaces it
  run(request);
}

double DDCBrightnessController::driveHardware(DisplayID displayID, double logical, int value, const Range& range,
                                             const Channel& channel, bool restoring) {
  // A display without a channel has no level to keep: its write says why it cannot be driven.
  const auto hasChannel = [displayID] {
    const auto info = DDCIO::displayInfo(displayID);
    return info && DDCIO::channelFor(*info) != DDCIO::Channel::none;
  };
  if (preserveStartupBrightness_ && !startupPreservedDisplays_.contains(displayID) &&
      !lastAppliedByDisplay_.contains(displayID) && logical >= kStartupFullLevel && hasChannel()) {
    startupPreservedDisplays_.insert(displayID);
    log(displayID, [] { return std::string("preserving startup brightness because current max is not verified yet"); });
    return 0;
  }
  if (channel.isPanel && leftToOthers(displayID, value, logical, channel)) return 0;
  if (const auto last = lastAppliedByDisplay_.find(displayID);
      last != lastAppliedByDisplay_.end() && last->second == value)
    return 0;
  if (const double delay = writeDelay(displayID, value, channel); delay > 0) return delay;
  write(displayID, value, channel, logical, range.maximum, restoring);
  return 0;
}

void DDCBrightnessController::write(DisplayID displayID, int value, const Channel& channel, double logical,
                                    double maximum, bool restoring) {
  // Counted as written from now: the same value is not sent again, and the
  // next one-step decrease is spaced from this one. A failure puts back what
  // was there before.
  const auto before = [](const auto& map, DisplayID id) {
    const auto found = map.find(id);
    return found == map.end() ? std::nullopt : std::optional(found->second);
  };
  const std::optional<int> previousValue = before(lastAppliedByDisplay_, displayID);
  const std::optional<double> previousAt = before(lastWriteAtByDisplay_, displayID);
  lastAppliedByDisplay_[displayID] = value;
  if (!restoring) lastWriteAtByDisplay_[displayID] = loop_.uptime();
  if (channel.isPanel) notePanelShown(displayID, value, channel.percentOf(value), logical);
  writes_[displayID] = DDCIO::setBrightness(
      displayID, static_cast<std::uint32_t>(value), channel.steps,
      [this, displayID, value, channel, maximum, restoring, previousValue, previousAt](DDCIO::WriteFailure failure) {
        writes_.erase(displayID);
        if (failure != DDCIO::WriteFailure::none) {
          // Not on the display: sent again once its back-off allows.
          if (const auto last = lastAppliedByDisplay_.find(displayID);
              last != lastAppliedByDisplay_.end() && last->second == value) {
            putBack(lastAppliedByDisplay_, displayID, previousValue);
            putBack(lastWriteAtByDisplay_, displayID, previousAt);
          }
          recordFailure(displayID, failure);
          return reapplyLatest();
        }
        backOffByDisplay_.erase(displayID);
        ControlStatusStore::shared().set(writtenStatus(displayID), displayID);
        if (!restoring)
          log(displayID, [&] { return "success actual=" + channel.text(value) + " max=" + integerText(maximum) + "%"; });
        if (gammaStandsIn(displayID)) {
          endGammaStandIn(displayID);
          reapplyLatest();  // the hardware shows the level again, not gamma
        }
      });
}

int DDCBrightnessController::Channel::valueFor(double actualPercent) const {
  return std::max(1, static_cast<int>(roundHalfAwayFromZero(actualPercent * steps / 100)));
}

std::string DDCBrightnessController::Channel::text(int value) const {
  return steps == DDCIO::kPercentSteps ? std::to_string(value) + "%"
                                       : std::to_string(value) + "/" + std::to_string(steps);
}

DDCBrightnessController::Channel DDCBrightnessController::channel(DisplayID displayID) {
  if (const auto known = channels_.find(displayID); known != channels_.end()) return known->second;
  const auto info = DDCIO::displayInfo(displayID);
  const Channel channel{DDCIO::brightnessSteps(displayID), info && DDCIO::followsOwnLevel(*info)};
  // A display not found now may be found later: only what was found is kept.
  if (info) channels_.emplace(displayID, channel);
  return channel;
}

DDCBrightnessController::Range DDCBrightnessController::panelRange(DisplayID displayID, const Range& limits,
                                                                  double logical) {
  const double now = loop_.uptime();
  auto known = panelLevels_.find(displayID);
  if (known == panelLevels_.end()) {
    // A panel backing off is looked up again at its next attempt, not on every frame.
    if (const auto retry = retryDelay(displayID); retry && *retry > 0) return limits;
    const auto level = DDCIO::currentBrightnessPercent(displayID);
    if (!level) return limits;  // unreadable: its limits alone
    // The level found counts as full brightness, as a monitor's does.
    known = panelLevels_.emplace(displayID, PanelLevel{*level, *level, 100, now}).first;
    log(displayID, [&] { return "panel found at " + integerText(*level) + "%"; });
  }
  PanelLevel& panel = known->second;
  // A dim that starts from rest looks first. A level set meanwhile is the
  // user's while they are present (the desktop's brightness keys) and the dim
  // starts from it; set while they are away, it is another program's.
  const bool lowers =
      actualLevel(logical, cappedRange(limits, panel.restPercent)) < panel.shownPercent - kPanelTolerance;
  if (lowers && now - panel.shownAt >= kPanelRestSeconds) {
    if (const auto level = DDCIO::currentBrightnessPercent(displayID)) {
      if (std::fabs(*level - panel.shownPercent) > kPanelTolerance) {
        if (userAway_) {
          panel.othersPercent = *level;
          panel.othersLogical = logical;
          // It no longer shows what we wrote: the user's return writes their level.
          lastAppliedByDisplay_.erase(displayID);
          log(displayID, [&] {
            return "panel set to " + integerText(*level) + "% by another program while the user is away: not theirs";
          });
        } else {
          takeAsUsersLevel(displayID, panel, *level);
          log(displayID, [&] { return "panel set to " + integerText(*level) + "% meanwhile: dimming from there"; });
        }
      }
      panel.shownPercent = *level;
    }
    panel.shownAt = now;
  }
  return cappedRange(limits, panel.restPercent);
}

void DDCBrightnessController::takeAsUsersLevel(DisplayID displayID, PanelLevel& panel, double level) {
  const double minimum =
      latest_ ? displayRange(displayID, latest_->maximums, latest_->minimums, latest_->safetyMinimumPercent).minimum
              : 0;
  panel.restPercent = restLevelFor(level, panel.shownLogical, minimum);
  panel.shownPercent = level;
  panel.shownAt = loop_.uptime();
  panel.othersPercent.reset();
  lastAppliedByDisplay_.erase(displayID);
}

void DDCBrightnessController::notePanelShown(DisplayID displayID, int value, double percent, double logical) {
  const auto known = panelLevels_.find(displayID);
  if (known == panelLevels_.end()) return;
  PanelLevel& panel = known->second;
  if (percent < panel.shownPercent) {
    panel.dimmedValues.insert(value);
  } else if (percent > panel.shownPercent && !panel.dimmedValues.empty()) {
    // The user is back: a desktop that saved a level of ours may put it back now.
    panel.returnValue = value;
    panel.watchUntil = loop_.uptime() + kLateRestoreWatchSeconds;
    if (!lateRestoreWatch_.isActive())
      lateRestoreWatch_ = loop_.every(kLateRestoreReadSeconds, kLateRestoreReadSeconds / 10, [this] {
        watchLateRestores();
      });
  }
  panel.shownPercent = percent;
  panel.shownLogical = logical;
  panel.shownAt = loop_.uptime();
}

bool DDCBrightnessController::leftToOthers(DisplayID displayID, int value, double logical, const Channel& channel) {
  const auto known = panelLevels_.find(displayID);
  if (known == panelLevels_.end() || !known->second.othersPercent) return false;
  PanelLevel& panel = known->second;
  // More light asked for (the user is back), or darker than the other program: ours again.
  if (logical > panel.othersLogical || value < channel.valueFor(*panel.othersPercent)) {
    panel.othersPercent.reset();
    return false;
  }
  panel.othersLogical = logical;
  return true;
}

void DDCBrightnessController::watchLateRestores() {
  const double now = loop_.uptime();
  bool watching = false;
  for (auto& [displayID, panel] : panelLevels_) {
    if (!panel.returnValue) continue;
    const int returnValue = *panel.returnValue;
    const auto level = DDCIO::currentBrightnessPercent(displayID);
    const Channel channel = this->channel(displayID);
    const int shown = level ? channel.valueFor(*level) : returnValue;
    if (shown == returnValue && now < panel.watchUntil - kClockSlack) {
      watching = true;
      continue;
    }
    const bool ours = panel.dimmedValues.contains(shown);
    panel.returnValue.reset();
    panel.dimmedValues.clear();
    if (shown == returnValue) continue;
    if (ours) {
      const auto info = DDCIO::displayInfo(displayID);
      AppLog::ddc.log((info && info->backlight ? *info->backlight : "display " + std::to_string(displayID)) +
                      ": another program put back " + channel.text(shown) +
                      ", a level it was dimmed to, after the user returned; writing the user's " +
                      channel.text(returnValue) + " again");
      write(displayID, returnValue, channel, panel.shownLogical, panel.restPercent, false);
    } else {
      // The user's brightness keys, or a value we never wrote: it stands.
      takeAsUsersLevel(displayID, panel, *level);
      log(displayID, [&] { return "panel set to " + integerText(*level) + "% after the user returned: theirs"; });
    }
  }
  if (!watching) lateRestoreWatch_.cancel();
}

void DDCBrightnessController::setUserAway(bool away) {
  if (userAway_ == away) return;
  userAway_ = away;
  if (!away) return;
  for (auto& [displayID, panel] : panelLevels_) {
    if (panel.returnValue) continue;  // the return's watch tells whose a change is
    const auto level = DDCIO::currentBrightnessPercent(displayID);
    if (!level) continue;
    if (std::fabs(*level - panel.shownPercent) > kPanelTolerance) {
      takeAsUsersLevel(displayID, panel, *level);
      log(displayID, [&] { return "panel set to " + integerText(*level) + "% by its user"; });
    }
    panel.shownAt = loop_.uptime();
  }
}

bool DDCBrightnessController::gammaStandsInFor(DDCIO::WriteFailure failure) {
  switch (failure) {
    case DDCIO::WriteFailure::noChannel:
    case DDCIO::WriteFailure::driverMissing:
    case DDCIO::WriteFailure::notPermitted:
    case DDCIO::WriteFailure::kernelDriver:
    case DDCIO::WriteFailure::backlightNotPermitted:
    case DDCIO::WriteFailure::noAnswer: return true;
    default: return false;
  }
}

void DDCBrightnessController::standInWithGamma(DisplayID displayID) {
  if (!backOffByDisplay_.contains(displayID)) backOffByDisplay_[displayID] = {1, loop_.uptime() + kFirstRetrySeconds};
  if (gammaStandIns_.insert(displayID).second)
    log(displayID, [] { return std::string("hardware cannot be driven: gamma stands in"); });
}

void DDCBrightnessController::holdUntilRead(DisplayID displayID, double actual) {
  ControlStatusStore::shared().set(DDCIO::lastReadFailure(displayID) == DDCIO::ReadFailure::noAnswer
                                       ? ControlStatus::ddcSilent
                                       : ControlStatus::reading,
                                   displayID);
  forget(displayID);
  log(displayID, [&] { return "brightness not read yet: gamma stands in at " + integerText(actual) + "%"; });
}

void DDCBrightnessController::endGammaStandIn(DisplayID displayID) {
  if (gammaStandIns_.erase(displayID))
    log(displayID, [] { return std::string("hardware answers again: gamma no longer stands in"); });
}

bool DDCBrightnessController::shouldDelayWrite(DisplayID displayID, int nextValue) const {
  const auto last = lastAppliedByDisplay_.find(displayID);
  if (last == lastAppliedByDisplay_.end()) return false;
  if (nextValue > last->second || last->second - nextValue > 1) return false;
  const auto writtenAt = lastWriteAtByDisplay_.find(displayID);
  if (writtenAt == lastWriteAtByDisplay_.end()) return false;
  return loop_.uptime() - writtenAt->second < kThrottleSeconds - kClockSlack;
}

double DDCBrightnessController::writeDelay(DisplayID displayID, int nextValue, const Channel& channel) const {
  double delay = 0;
  if (const auto retry = retryDelay(displayID)) delay = *retry;
  // A backlight takes every frame of a fade; a monitor's one-step decreases are spaced out.
  if (!channel.isPanel && shouldDelayWrite(displayID, nextValue)) delay = std::max(delay, kThrottleSeconds);
  // The newest value waits for the bus; whatever is asked meanwhile replaces it.
  return std::max(delay, DDCTransport::messageWait(displayID));
}

std::optional<double> DDCBrightnessController::retryDelay(DisplayID displayID) const {
  const auto backOff = backOffByDisplay_.find(displayID);
  if (backOff == backOffByDisplay_.end()) return std::nullopt;
  const double delay = backOff->second.retryAt - loop_.uptime();
  return delay > kClockSlack ? delay : 0;
}

void DDCBrightnessController::recordFailure(DisplayID displayID, DDCIO::WriteFailure failure) {
  BackOff& backOff = backOffByDisplay_[displayID];
  ++backOff.failures;
  const double doubling = std::ldexp(1.0, std::min(backOff.failures - 1, 16));
  double delay = std::min(kLongestRetrySeconds, kFirstRetrySeconds * doubling);
  if (failure == DDCIO::WriteFailure::busy) {
    // Not the monitor's fault: its status stays, and the value goes out once the bus is free.
    delay = std::min(kLongestBusyRetrySeconds, DDCTransport::kMessageIntervalSeconds * doubling);
    log(displayID, [&] { return "bus busy, next attempt in " + formatShortest(delay) + " s"; });
  } else {
    // The kind of display comes from the channel picked for it: its information was just dropped.
    const auto channel = channels_.find(displayID);
    ControlStatusStore::shared().set(statusFor(failure, channel != channels_.end() && !channel->second.isPanel),
                                     displayID);
    log(displayID, [] { return std::string("failed"); });
    log(displayID, [&] { return "next attempt in " + formatShortest(delay) + " s"; });
  }
  backOff.retryAt = loop_.uptime() + delay;
  if (gammaStandsInFor(failure)) standInWithGamma(displayID);
}

void DDCBrightnessController::forget(DisplayID displayID) {
  writes_.erase(displayID);
  lastAppliedByDisplay_.erase(displayID);
  lastWriteAtByDisplay_.erase(displayID);
  startupPreservedDisplays_.erase(displayID);
  backOffByDisplay_.erase(displayID);
  gammaStandIns_.erase(displayID);
  channels_.erase(displayID);
}

void DDCBrightnessController::restoreBrightness(const std::set<DisplayID>& displayIDs,
                                                const std::map<DisplayID, double>& maximums,
                                                const std::map<DisplayID, bool>& fullGamma, double safety) {
  invalidateDisplayState();
  // A display that cannot be restored now gets its maximum later: full
  // logical brightness is each display's maximum.
  latest_ = Request{100, displayIDs, maximums, {}, fullGamma, safety, true};
  double nextAttempt = kNever;
  for (DisplayID displayID : displayIDs) {
    if (const auto mode = fullGamma.find(displayID); mode != fullGamma.end() && mode->second) {
      noteFullGammaStatus(gammaController_, displayID);
      continue;
    }
    startupPreservedDisplays_.insert(displayID);
    // Its maximum is not known yet: it stays as its user has it.
    if (DDCIO::isReadingBrightness(displayID)) continue;
    if (const double wait = DDCTransport::messageWait(displayID); wait > 0) {
      nextAttempt = std::min(nextAttempt, wait);
      continue;
    }
    const Channel channel = this->channel(displayID);
    Range range = displayRange(displayID, maximums, {}, safety);
    if (channel.isPanel) range = panelRange(displayID, range, 100);
    write(displayID, channel.valueFor(range.maximum), channel, 100, range.maximum, true);
  }
  scheduleReapply(nextAttempt);
}

void DDCBrightnessController::invalidateDisplayState() {
  DDCIO::clearCaches();
  preserveStartupBrightness_ = false;
  pendingWrite_.cancel();
  writes_.clear();
  lastAppliedByDisplay_.clear();
  lastWriteAtByDisplay_.clear();
  backOffByDisplay_.clear();  // a changed display list is worth a fresh try at every display
  gammaStandIns_.clear();
  channels_.clear();
  gammaController_.restoreAll();
  ControlStatusStore::shared().clear();
}
