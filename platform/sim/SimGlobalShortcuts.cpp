// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimGlobalShortcuts.hpp"

#include <algorithm>

GlobalShortcuts::Registration SimGlobalShortcuts::registerShortcut(HotKeyID action, const Combination& combination,
                                                                   PressHandler onPress) {
  ++registerCalls_;
  if (refuseEvery) return *refuseEvery;
  const bool held = std::any_of(registrations_.begin(), registrations_.end(),
                                [&](const auto& entry) { return entry.second.combination == combination; });
  if (held || std::find(takenByOthers.begin(), takenByOthers.end(), combination) != takenByOthers.end())
    return Refusal::taken;
  const Handle handle = nextHandle_++;
  registrations_[handle] = {action, combination, std::move(onPress)};
  return handle;
}

void SimGlobalShortcuts::unregisterShortcut(Handle handle) { registrations_.erase(handle); }

bool SimGlobalShortcuts::press(const Combination& combination) {
  for (const auto& [handle, entry] : registrations_) {
    if (entry.combination != combination) continue;
    // A copy: the handler may replace every registration, this one included.
    const PressHandler onPress = entry.onPress;
    onPress();
    return true;
  }
  return false;
}

void SimGlobalShortcuts::drop(Handle handle) {
  if (registrations_.erase(handle)) registrationLost.emit(handle);
}
