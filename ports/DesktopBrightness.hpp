// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/MainLoop.hpp"

// The desktop's own brightness service (KDE Plasma's org.kde.ScreenBrightness
// on the session bus): the displays it drives itself, over DDC/CI or the
// backlight, each with its level. A display it drives is set through it, so
// that no two programs talk on one bus at once and the desktop's own slider
// shows the level. Changes to the displays offered (the service starts or
// stops, a display comes or goes) are announced by
// SystemNotifications::screenParametersChanged.
class DesktopBrightness {
 public:
  struct Display {
    std::string name;        // the service's name for it ("display0"): what setLevel takes
    std::string label;       // its user-visible name: a monitor's EDID model name
    bool internal = false;   // part of the machine itself: a laptop's panel
    std::uint32_t maximum = 0;  // what its level counts up to
    // As last read or announced: by another client, by the service itself, or
    // as this program last set it.
    std::uint32_t level = 0;

    friend bool operator==(const Display&, const Display&) = default;
  };
  enum class SetStatus {
    ok,
    noDisplay,  // the service, or its display, is gone
    failed,     // the service refused the level
  };

  virtual ~DesktopBrightness() = default;

  // The displays the service offers now; none without a service.
  virtual std::vector<Display> displays() = 0;
  // Sets a display's level (0...maximum) without the service's on-screen
  // indicator. Returns at once; `done` gets the outcome on the main loop, never
  // inside this call, unless the returned work is cancelled first.
  [[nodiscard]] virtual ScheduledWork setLevel(const std::string& name, std::uint32_t level,
                                               std::function<void(SetStatus)> done) = 0;
};
