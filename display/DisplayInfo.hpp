// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"

// One connected display as the core names and keys it (DisplayIdentity
// derives it from the system's facts).
struct DisplayInfo {
  DisplayID displayID = 0;
  bool isBuiltIn = false;
  std::string connector;                       // "DP-1"
  std::optional<std::string> stableKey;        // its settings key: UUID-shaped, from the EDID; absent without one
  std::vector<std::string> formerKeys = {};    // keys it had under earlier rules
  std::optional<std::string> productName;      // the EDID's monitor name
  std::optional<std::string> connectionLabel;  // e.g. "External・HDMI"
  std::uint32_t vendor = 0;
  std::uint32_t model = 0;
  std::uint32_t serial = 0;
  std::optional<int> i2cBus = {};              // its DDC/CI channel
  std::optional<std::string> backlight = {};   // its backlight device
  // Its name at the desktop's brightness service, which drives it instead.
  std::optional<std::string> desktopBrightness = {};

  friend bool operator==(const DisplayInfo&, const DisplayInfo&) = default;
};
