// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "base/Signal.hpp"

// One press, release or scroll notch, as the monitors deliver it. Pointer
// motion is not delivered: the idle source reports it as the user's return.
struct InputEvent {
  enum class Kind {
    key,             // any key but a modifier and the brightness keys
    modifier,        // Shift, Control, Alt, Super and their kin
    button,          // a pointer button other than the wheel
    scroll,          // one notch of the wheel or a touchpad's scroll
    brightnessUp,    // the keyboard's brightness keys
    brightnessDown,
  };
  Kind kind = Kind::key;
  bool pressed = true;          // press or release (keys and buttons; a scroll is a press)
  bool controlAndAlt = false;   // Control and Alt were held
};

// Input monitors: a global one sees events meant for other applications, a
// local one sees this application's own events and may swallow them.
class InputMonitors {
 public:
  virtual ~InputMonitors() = default;

  // The global handler may be called from any thread; it must only post work
  // onto the main loop. An unconnected Subscription means no monitor.
  using GlobalHandler = std::function<void(const InputEvent&)>;
  [[nodiscard]] virtual Subscription addGlobalMonitor(GlobalHandler handler) = 0;

  // Runs on the main thread; returning true swallows the event.
  using LocalHandler = std::function<bool(const InputEvent&)>;
  [[nodiscard]] virtual Subscription addLocalMonitor(LocalHandler handler) = 0;
};
