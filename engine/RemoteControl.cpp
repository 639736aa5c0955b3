// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RemoteControl.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>

#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "settings/StepStore.hpp"

namespace {
// The number as it came, digit for digit and never in exponent form: a rounded
// one could read as allowed ("at most 1000000 minutes, not 1000000").
std::string formatMinutes(double minutes) {
  char text[512];  // room for the longest fixed form of a double (5e-324 takes about 330)
  return std::string(text, std::to_chars(text, text + sizeof text, minutes, std::chars_format::fixed).ptr);
}
}  // namespace

RemoteControl::RemoteControl(StepStore& stepStore, DisplayStore& displayStore, IdleBrightnessEngine& engine,
                             MainLoop& loop)
    : stepStore_(stepStore), displayStore_(displayStore), engine_(engine), loop_(loop) {
  announced_ = snapshot();
  // Any of these may move a property; notify() tells which ones really did.
  auto changed = [this](const auto&...) { scheduleNotification(); };
  subscriptions_.push_back(engine_.masterPresentation.percent.changed.connect(changed));
  subscriptions_.push_back(engine_.pauseUntil.changed.connect(changed));
  subscriptions_.push_back(engine_.objectWillChange.connect(changed));
  subscriptions_.push_back(stepStore_.objectWillChange.connect(changed));
  subscriptions_.push_back(stepStore_.selectedDisplayIDs.changed.connect(changed));
  subscriptions_.push_back(displayStore_.displays.changed.connect(changed));
  subscriptions_.push_back(ControlStatusStore::shared().states.changed.connect(changed));
}

void RemoteControl::pressHotKey(HotKeyID id) {
  if (engine_.hotKeyManager().onHotKey) engine_.hotKeyManager().onHotKey(id);
  scheduleNotification();
}

void RemoteControl::increaseMaster() { pressHotKey(HotKeyID::increaseMax); }
void RemoteControl::decreaseMaster() { pressHotKey(HotKeyID::decreaseMax); }
void RemoteControl::restoreMaximum() { pressHotKey(HotKeyID::restore); }

std::optional<std::string> RemoteControl::pause(double minutes) {
  // A script's mistake is reported back, never clamped into a pause the caller did not ask for.
  if (std::isnan(minutes)) return "The pause length is not a number";
  if (!(minutes > 0)) return "The pause length must be more than 0 minutes, not " + formatMinutes(minutes);
  if (minutes > IdleBrightnessEngine::kLongestPauseMinutes)
    return "The pause length must be at most " + formatMinutes(IdleBrightnessEngine::kLongestPauseMinutes) +
           " minutes, not " + formatMinutes(minutes);
  engine_.pauseDimming(minutes);
  scheduleNotification();
  return std::nullopt;
}

void RemoteControl::resume() {
  engine_.resumeAutomaticDimming();
  scheduleNotification();
}

bool RemoteControl::showWindow() {
  if (!onShowWindow) return false;
  onShowWindow();
  return true;
}

double RemoteControl::masterPercent() const { return stepStore_.manualBrightnessPercent; }

double RemoteControl::currentPercent() const { return engine_.currentBrightnessPercent(); }

std::uint32_t RemoteControl::idleSeconds() const {
  const double seconds = std::floor(engine_.effectiveIdleSeconds(loop_.uptime()));
  return seconds > 0 ? static_cast<std::uint32_t>(std::min(seconds, 4'294'967'295.0)) : 0;
}

std::uint64_t RemoteControl::pausedUntil() const {
  const auto& until = engine_.pauseUntil.get();
  if (!until) return 0;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(until->time_since_epoch()).count();
  return seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
}

std::vector<RemoteControl::Display> RemoteControl::displays() const {
  const auto& selected = stepStore_.selectedDisplayIDs.get();
  std::vector<Display> list;
  for (const auto& display : displayStore_.displays.get())
    list.push_back({display.displayID, display.name, ControlStatusStore::shared().status(display.displayID),
                    selected.contains(display.displayID)});
  return list;
}

RemoteControl::Snapshot RemoteControl::snapshot() const {
  return {masterPercent(), currentPercent(), pausedUntil(), displays()};
}

void RemoteControl::scheduleNotification() {
  if (pendingNotification_.isActive()) return;
  const double wait =
      lastNotificationAt_ ? *lastNotificationAt_ + kMinimumNotificationInterval - loop_.uptime() : 0;
  // Posted rather than run at once, so a burst of changes in one turn is told once.
  pendingNotification_ = wait > 0 ? loop_.after(wait, [this] { notify(); }) : loop_.post([this] { notify(); });
}

void RemoteControl::notify() {
  const Snapshot now = snapshot();
  Properties changed = 0;
  if (now.masterPercent != announced_.masterPercent) changed |= static_cast<unsigned>(Property::masterPercent);
  if (now.currentPercent != announced_.currentPercent) changed |= static_cast<unsigned>(Property::currentPercent);
  if (now.pausedUntil != announced_.pausedUntil) changed |= static_cast<unsigned>(Property::pausedUntil);
  if (now.displays != announced_.displays) changed |= static_cast<unsigned>(Property::displays);
  announced_ = now;
  if (!changed) return;
  // Only a real notification opens the quiet interval.
  lastNotificationAt_ = loop_.uptime();
  propertiesChanged.emit(changed);
}
