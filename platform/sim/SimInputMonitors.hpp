// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ports/InputMonitors.hpp"

class SimIdleTime;

// Input monitors a test drives: an event "from another application" reaches
// the global monitors, one "in this application" the local monitors. Either
// also counts as input for an attached idle clock.
class SimInputMonitors final : public InputMonitors {
 public:
  explicit SimInputMonitors(SimIdleTime* idleTime = nullptr) : idleTime_(idleTime) {}

  Subscription addGlobalMonitor(GlobalHandler handler) override;
  Subscription addLocalMonitor(LocalHandler handler) override;

  void sendGlobal(const InputEvent& event);
  // Returns true when a local monitor swallowed the event.
  bool sendLocal(const InputEvent& event);

  static InputEvent keyDown() { return {}; }
  // A keyboard brightness key, with or without Control and Alt held.
  static InputEvent brightnessKey(bool up, bool controlAndAlt, bool pressed = true) {
    return {up ? InputEvent::Kind::brightnessUp : InputEvent::Kind::brightnessDown, pressed, controlAndAlt};
  }

  // When false, adding a monitor fails (no permission for global monitoring).
  bool available = true;
  std::size_t globalMonitorCount() const { return global_.subscriberCount(); }
  std::size_t localMonitorCount() const { return local_.subscriberCount(); }

 private:
  struct LocalResult {
    bool* swallowed;
  };
  SimIdleTime* idleTime_;
  Signal<InputEvent> global_;
  Signal<InputEvent, LocalResult> local_;
};
