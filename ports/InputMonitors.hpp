// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>

#include "base/Signal.hpp"

// The system's input event type numbers; the core's rules are written in them.
enum class InputEventType : std::uint32_t {
  leftMouseDown = 1,
  leftMouseUp = 2,
  rightMouseDown = 3,
  rightMouseUp = 4,
  mouseMoved = 5,
  leftMouseDragged = 6,
  rightMouseDragged = 7,
  keyDown = 10,
  keyUp = 11,
  flagsChanged = 12,
  systemDefined = 14,  // the keyboard's brightness and media keys arrive as these
  scrollWheel = 22,
  otherMouseDown = 25,
  otherMouseUp = 26,
  otherMouseDragged = 27,
};

// One input event as the monitors deliver it.
struct InputEvent {
  InputEventType type = InputEventType::keyDown;
  std::int16_t subtype = 0;
  std::uint64_t modifierFlags = 0;
  std::int64_t data1 = 0;  // first data word of a system-defined event
};

using InputEventMask = std::uint64_t;
inline constexpr InputEventMask eventMaskBit(InputEventType type) {
  return InputEventMask{1} << static_cast<std::uint32_t>(type);
}

// Input monitors: a global one sees events meant for other applications, a
// local one sees this application's own events and may swallow them.
class InputMonitors {
 public:
  virtual ~InputMonitors() = default;

  // The global handler may be called from any thread; it must only post work
  // onto the main loop. An unconnected Subscription means no monitor.
  using GlobalHandler = std::function<void(const InputEvent&)>;
  [[nodiscard]] virtual Subscription addGlobalMonitor(InputEventMask mask, GlobalHandler handler) = 0;

  // Runs on the main thread; returning true swallows the event.
  using LocalHandler = std::function<bool(const InputEvent&)>;
  [[nodiscard]] virtual Subscription addLocalMonitor(InputEventMask mask, LocalHandler handler) = 0;
};
