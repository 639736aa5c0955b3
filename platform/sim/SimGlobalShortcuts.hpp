// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "ports/GlobalShortcuts.hpp"

// Global shortcuts that record registrations and deliver presses of the
// combinations registered with them. A combination is held once: registering
// it again, or one listed in takenByOthers, is refused like a real server.
class SimGlobalShortcuts final : public GlobalShortcuts {
 public:
  struct Entry {
    HotKeyID action;
    Combination combination;
    PressHandler onPress;
  };

  std::vector<Combination> takenByOthers;
  std::optional<Refusal> refuseEvery;  // a desktop that accepts no shortcut at all

  Registration registerShortcut(HotKeyID action, const Combination& combination, PressHandler onPress) override;
  void unregisterShortcut(Handle handle) override;

  // Presses a combination: calls its handler when it is registered here;
  // false when nothing is registered for it.
  bool press(const Combination& combination);
  // Drops a registration as a desktop that stopped binding its action does.
  void drop(Handle handle);

  const std::map<Handle, Entry>& registrations() const { return registrations_; }
  int registerCalls() const { return registerCalls_; }

 private:
  std::map<Handle, Entry> registrations_;
  Handle nextHandle_ = 1;
  int registerCalls_ = 0;
};
