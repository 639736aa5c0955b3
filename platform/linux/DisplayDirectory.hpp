// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/Backlight.hpp"
#include "platform/linux/DrmConnectors.hpp"
#include "platform/linux/SessionOutput.hpp"

// Everything known about one online display, joined from the session's
// outputs (what the display server shows) and sysfs (which kernel connector,
// DDC bus and backlight).
struct LinuxDisplay {
  std::uint32_t id = 0;       // the session output's ID
  std::string outputName;     // "DP-1"
  bool isBuiltIn = false;     // eDP, LVDS and DSI panels
  std::vector<std::uint8_t> edid;          // as the output or its connector gave it; may be empty
  std::optional<DrmConnector> connector;   // its sysfs connector, when one matched
  std::optional<int> i2cBus;               // its DDC channel: the connector's, else found by its EDID
  // A built-in panel's backlight, or the device a kernel ddcci driver made
  // for a monitor whose bus it owns (driven through it, not the bus).
  std::optional<BacklightDevice> backlight;
};

// Builds the online display list. Connectors are matched to outputs by EDID
// first (an X server's output names differ between drivers), then by name.
class DisplayDirectory {
 public:
  // The display server's outputs, in its order.
  using OutputSource = std::function<std::vector<SessionOutput>()>;
  DisplayDirectory(OutputSource outputs, DrmConnectors connectors, Backlight backlight);

  // Re-reads the outputs and sysfs, and finds the buses sysfs does not name by
  // their EDIDs; the result stays until the next refresh.
  const std::vector<LinuxDisplay>& refresh();
  const std::vector<LinuxDisplay>& displays() const { return displays_; }
  const LinuxDisplay* display(std::uint32_t id) const;
  const std::vector<DrmConnector>& connectors() const { return connectors_; }
  const Backlight& backlight() const { return backlight_; }
  const DrmConnectors& scanner() const { return scanner_; }

  // Joins outputs and connectors; public so the rules can be checked without a server.
  static std::vector<LinuxDisplay> join(const std::vector<SessionOutput>& outputs,
                                        const std::vector<DrmConnector>& connectors, const Backlight* backlight);

 private:
  void findBusesByEdid();

  OutputSource outputs_;
  DrmConnectors scanner_;
  Backlight backlight_;
  std::vector<DrmConnector> connectors_;
  std::vector<LinuxDisplay> displays_;
};

// Whether an X output name and a kernel connector name denote the same
// connector: "HDMI-1" and "HDMI-A-1", "DisplayPort-0" and "DP-0", "DP1" and "DP-1".
bool outputMatchesConnector(std::string_view outputName, std::string_view connectorName);
