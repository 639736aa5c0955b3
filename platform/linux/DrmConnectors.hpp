// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

// One connector of a graphics card as the kernel shows it under
// /sys/class/drm/cardN-<name>.
struct DrmConnector {
  std::string name;                // "DP-1", "HDMI-A-1", "eDP-1" (without the card prefix)
  std::filesystem::path folder;    // the connector's sysfs folder
  bool connected = false;          // its "status" reads "connected"
  std::vector<std::uint8_t> edid;  // raw contents of its "edid" file (may be empty)
  std::optional<int> i2cBus;       // N of the /dev/i2c-N that reaches the monitor's DDC channel

  bool isBuiltIn() const;
  // "DisplayPort", "HDMI", "DVI", "eDP", ... from the connector type.
  std::string transportType() const;
};

// Reads an EDID from the device at address 0x50 of one I2C bus; nullopt when
// the bus cannot be read. Used only where sysfs links do not say which bus a
// display uses.
using EdidProbe = std::function<std::optional<std::vector<std::uint8_t>>(int bus)>;

// Scans the connectors under <sysRoot>/class/drm and works out each one's DDC
// bus from sysfs: a DisplayPort connector's own i2c-N folder, else its "ddc"
// link. Where sysfs does not say (a driver without kernel mode setting has no
// connectors at all), buses are found by the EDID they answer with.
class DrmConnectors {
 public:
  DrmConnectors(std::filesystem::path sysRoot, std::filesystem::path devRoot, EdidProbe probe);

  std::vector<DrmConnector> scan() const;

  // For each of `wanted` (EDID base blocks), the bus among <devRoot>/i2c-*
  // that answers at 0x50 with it; never one in `taken` nor one an earlier
  // entry got, so identical monitors get distinct buses. Each probe blocks for
  // a read of 128 bytes, so: adapters that plainly serve no display (SMBus and
  // other mainboard controllers, by their sysfs name) are skipped, each bus is
  // read at most once, probing stops when all are found, and the answer is
  // kept until the wanted EDIDs or the buses change.
  std::vector<std::optional<int>> busesAnswering(const std::vector<std::vector<std::uint8_t>>& wanted,
                                                 const std::set<int>& taken);
  // How many buses have been read so far (the cost a display change has).
  int probeCount() const { return probes_; }

 private:
  bool mayServeADisplay(int bus) const;

  std::filesystem::path sysRoot_;
  std::filesystem::path devRoot_;
  EdidProbe probe_;
  int probes_ = 0;
  struct Answer {
    std::vector<std::vector<std::uint8_t>> wanted;
    std::set<int> taken;
    std::vector<int> candidates;
    std::vector<std::optional<int>> buses;
  };
  std::optional<Answer> lastAnswer_;
};

// Whole contents of a small sysfs or runtime file; nullopt when unreadable.
std::optional<std::string> readTextFile(const std::filesystem::path& path);
std::optional<std::vector<std::uint8_t>> readBinaryFile(const std::filesystem::path& path);
// N from a name like "i2c-7"; nullopt for anything else.
std::optional<int> i2cBusNumber(const std::string& name);
