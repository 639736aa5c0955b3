// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"

// What the system knows about one connected display. The core derives the
// display's name, its settings key and its brightness channel from these.
struct DisplayFacts {
  DisplayID id = 0;
  // The kernel's connector ("DP-1", "HDMI-A-1", "eDP-1"); where no kernel
  // connector matched, the session's name for the output.
  std::string connector;
  // The session's name for the output ("HDMI-1", "DisplayPort-0"): the name
  // older versions keyed identical monitors by.
  std::string outputName;
  // The EDID base block as the display gave it; empty when it gave none.
  std::vector<std::uint8_t> edid = {};
  bool builtIn = false;  // eDP, LVDS and DSI panels
  // N of the /dev/i2c-N that reaches the display's DDC/CI channel.
  std::optional<int> i2cBus = {};
  // A backlight device (/sys/class/backlight/<name>): a panel's own, or the
  // one the kernel's ddcci driver made for a monitor whose bus it owns.
  std::optional<std::string> backlight = {};

  friend bool operator==(const DisplayFacts&, const DisplayFacts&) = default;
};

// The connected displays. Changes are announced by
// SystemNotifications::screenParametersChanged.
class Displays {
 public:
  virtual ~Displays() = default;

  // Every connected display in the session's order, read afresh; nullopt
  // when the list cannot be read at all.
  virtual std::optional<std::vector<DisplayFacts>> connectedDisplays() = 0;
};
