#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
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
// connector uses.
using EdidProbe = std::function<std::optional<std::vector<std::uint8_t>>(int bus)>;

// Scans the connectors under <sysRoot>/class/drm and works out each one's DDC
// bus: a DisplayPort connector's own i2c-N folder, else its "ddc" link, else
// the bus (among <devRoot>/i2c-*) whose EDID matches, never one already taken
// by another connector, so identical monitors still get distinct buses.
class DrmConnectors {
 public:
  DrmConnectors(std::filesystem::path sysRoot, std::filesystem::path devRoot, EdidProbe probe);

  std::vector<DrmConnector> scan() const;

 private:
  std::filesystem::path sysRoot_;
  std::filesystem::path devRoot_;
  EdidProbe probe_;
};

// Whole contents of a small sysfs or runtime file; nullopt when unreadable.
std::optional<std::string> readTextFile(const std::filesystem::path& path);
std::optional<std::vector<std::uint8_t>> readBinaryFile(const std::filesystem::path& path);
// N from a name like "i2c-7"; nullopt for anything else.
std::optional<int> i2cBusNumber(const std::string& name);
