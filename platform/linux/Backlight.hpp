// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// A kernel backlight device, /sys/class/backlight/<name>.
struct BacklightDevice {
  std::string name;
  std::filesystem::path folder;
};

// Reads the panel's backlight from sysfs and, where permitted, writes it there
// directly (the fallback when logind cannot do it for us).
class Backlight {
 public:
  explicit Backlight(std::filesystem::path sysRoot);

  // The device that drives the panel on `connectorFolder` (a backlight folder
  // inside the connector, when the driver links it so), else the first by kind:
  // raw (the GPU's own), platform, firmware. A monitor's ddcci device is never
  // a panel's.
  std::optional<BacklightDevice> deviceFor(const std::filesystem::path& connectorFolder) const;
  // The device a kernel ddcci driver made for the monitor on I2C bus `bus`:
  // a backlight whose device lies below i2c-<bus> (or, where the link cannot
  // be followed, one named ddcci<bus>, as that driver names them).
  std::optional<BacklightDevice> ddcciDeviceFor(int bus) const;

  // The device of that name under /sys/class/backlight.
  BacklightDevice device(const std::string& name) const { return {name, sysRoot_ / "class" / "backlight" / name}; }

  std::optional<std::uint32_t> maxBrightness(const BacklightDevice& device) const;
  // The level as a fraction 0...1; nullopt when the device is gone or unreadable.
  std::optional<double> fraction(const BacklightDevice& device) const;
  // The raw level for a fraction 0...1 of `max`. A lit panel is never sent 0,
  // which turns some backlights off: with 7 or 15 steps, 5 % would round there.
  static std::uint32_t rawLevel(double fraction, std::uint32_t max);
  // Writes a raw level to the device's "brightness" file; 0 or the errno.
  int writeRaw(const BacklightDevice& device, std::uint32_t value) const;

 private:
  std::filesystem::path sysRoot_;
};
