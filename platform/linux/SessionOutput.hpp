// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One output as the display server lists it (an X server's RandR output, a
// compositor's wl_output), in the terms the display directory joins with
// the kernel's connectors.
struct SessionOutput {
  std::uint32_t id = 0;  // the display ID the session gives it
  std::string name;      // "DP-1", "HDMI-A-1", "eDP-1"
  bool online = false;   // connected and showing part of the screen
  std::vector<std::uint8_t> edid;  // empty when the session does not give it
};
