// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/DisplayID.hpp"
#include "ports/PropertyValue.hpp"

// The online display list and what the system says about each display.
class DisplayServices {
 public:
  virtual ~DisplayServices() = default;

  // The online displays in the system's order; nullopt when the list cannot be read.
  virtual std::optional<std::vector<DisplayID>> onlineDisplayList() = 0;

  virtual bool isBuiltIn(DisplayID displayID) = 0;
  virtual std::uint32_t vendorNumber(DisplayID displayID) = 0;
  virtual std::uint32_t modelNumber(DisplayID displayID) = 0;
  virtual std::uint32_t serialNumber(DisplayID displayID) = 0;

  // The display information dictionary ("kCGDisplayUUID", "IODisplayLocation", ...).
  // It is produced by a function resolved at run time, which may be missing.
  virtual bool hasInfoDictionaryFunction() = 0;
  // Whatever the function returned: nothing, or a value that should be a dictionary.
  virtual std::optional<PropertyValue> infoDictionary(DisplayID displayID) = 0;
};
