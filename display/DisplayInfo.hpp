// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"

// What the system tells us about one online display.
struct DisplayInfo {
  DisplayID displayID = 0;
  bool isBuiltIn = false;
  std::optional<std::string> uuid;             // "kCGDisplayUUID"
  std::vector<std::string> formerUUIDs = {};   // "FormerDisplayUUIDs": keys it had before, space-separated there
  std::optional<std::string> ioLocation;       // "IODisplayLocation": the display's registry path
  std::optional<std::string> productName;      // registry DisplayAttributes/ProductAttributes/ProductName
  std::optional<std::string> connectionLabel;  // e.g. "External・HDMI"
  std::uint32_t vendor = 0;
  std::uint32_t model = 0;
  std::uint32_t serial = 0;

  friend bool operator==(const DisplayInfo&, const DisplayInfo&) = default;
};
