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

  Subscription addGlobalMonitor(InputEventMask mask, GlobalHandler handler) override;
  Subscription addLocalMonitor(InputEventMask mask, LocalHandler handler) override;

  // Delivers to every global monitor whose mask has the event's type.
  void sendGlobal(const InputEvent& event);
  // Delivers to the local monitors; returns true when one swallowed the event.
  bool sendLocal(const InputEvent& event);

  static InputEvent keyDown() { return {InputEventType::keyDown, 0, 0, 0}; }
  // A keyboard brightness key (2 up, 3 down) inside a system-defined event.
  static InputEvent mediaKey(int keyCode, bool controlAndOption, bool keyDown = true);

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
