// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/DisplayID.hpp"
#include "ports/DeviceRegistry.hpp"
#include "ports/IOResult.hpp"

// Built-in panel brightness. The four brightness functions come from a
// library resolved at run time; any of them may be missing (all of them when
// the library does not open). Levels are fractions from 0 to 1.
class PanelBrightnessServices {
 public:
  virtual ~PanelBrightnessServices() = default;

  virtual bool hasCanChangeBrightness() = 0;
  virtual bool canChangeBrightness(DisplayID displayID) = 0;
  virtual bool hasGetBrightness() = 0;
  virtual std::int32_t getBrightness(DisplayID displayID, float& level) = 0;
  virtual bool hasSetBrightness() = 0;
  virtual std::int32_t setBrightness(DisplayID displayID, float level) = 0;
  virtual bool hasSetBrightnessSmooth() = 0;
  virtual std::int32_t setBrightnessSmooth(DisplayID displayID, float level) = 0;

  // How many levels above off the panel's backlight has (its own maximum);
  // 0 when it does not say. Levels are best sent as multiples of one level.
  virtual std::uint32_t brightnessSteps(DisplayID displayID) = 0;

  // The registry entry's float parameter (the transport uses "brightness").
  virtual std::int32_t setFloatParameter(RegistryEntry entry, std::string_view key, float value) = 0;
  virtual std::int32_t getFloatParameter(RegistryEntry entry, std::string_view key, float& value) = 0;
  // The platform's text for a result code; empty when it has none.
  virtual std::string errorText(std::int32_t code) = 0;
};
