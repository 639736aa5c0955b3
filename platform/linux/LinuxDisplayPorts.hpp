// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <set>
#include <string>

#include "platform/linux/DisplayDirectory.hpp"
#include "ports/Backlights.hpp"
#include "ports/Displays.hpp"

class DBusSession;

// The displays of a Linux desktop (RandR or Wayland outputs joined with the
// DRM connectors of sysfs) and the kernel's backlight devices, set through
// logind where it can, else through the device file.
class LinuxDisplayPorts final : public Displays, public Backlights {
 public:
  // `bus` may be null (no D-Bus): backlights are then written through sysfs only.
  LinuxDisplayPorts(DisplayDirectory directory, DBusSession* bus);

  // Displays: re-reads the outputs and sysfs.
  std::optional<std::vector<DisplayFacts>> connectedDisplays() override;

  // Backlights
  std::optional<double> level(const std::string& device) override;
  std::uint32_t steps(const std::string& device) override;
  BacklightStatus setLevel(const std::string& device, double fraction) override;

  const DisplayDirectory& directory() const { return directory_; }
  // What the core is told about one display.
  static DisplayFacts factsOf(const LinuxDisplay& display);

 private:
  // A device the last look at the displays found, else the one of that name in sysfs.
  BacklightDevice backlightDevice(const std::string& name) const;

  DisplayDirectory directory_;
  DBusSession* bus_;
  bool writesSysfsDirectly_ = false;  // logind could not, the device file could
  std::set<std::string> unwritableDevices_;  // backlight devices the log has explained
  std::set<std::string> announcedMonitorDevices_;  // ddcci devices the log has named
};
