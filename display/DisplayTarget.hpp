// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"

// A display as the rest of the program sees it.
struct DisplayTarget {
  DisplayID displayID = 0;
  std::string name;
  bool isBuiltIn = false;
  // Survives unplugging (the display's UUID); absent when the system gives none.
  std::optional<std::string> stableID;
  // Keys the same display had under earlier rules; its stored settings may sit under one.
  std::vector<std::string> formerStableIDs = {};

  friend bool operator==(const DisplayTarget&, const DisplayTarget&) = default;
};

template <>
struct std::hash<DisplayTarget> {
  std::size_t operator()(const DisplayTarget& target) const noexcept {
    std::size_t seed = std::hash<DisplayID>{}(target.displayID);
    const auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2); };
    mix(std::hash<std::string>{}(target.name));
    mix(std::hash<bool>{}(target.isBuiltIn));
    mix(target.stableID ? std::hash<std::string>{}(*target.stableID) : 0x51u);
    return seed;
  }
};
