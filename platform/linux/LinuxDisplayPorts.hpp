// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/DisplayDirectory.hpp"
#include "platform/linux/I2CDevice.hpp"
#include "ports/AVServices.hpp"
#include "ports/DeviceRegistry.hpp"
#include "ports/DisplayServices.hpp"
#include "ports/PanelBrightnessServices.hpp"

class DBusSession;

// The display facilities of a Linux desktop in the shape the transport reads:
// the online list from RandR, the information dictionary from the EDID and the
// DRM connector, a registry of one entry per display followed by its DDC
// channel, I2C on /dev/i2c-N, and the panel backlight (logind, else sysfs).
class LinuxDisplayPorts final : public DisplayServices,
                                public DeviceRegistry,
                                public AVServices,
                                public PanelBrightnessServices {
 public:
  // `bus` may be null (no D-Bus): the panel is then written through sysfs only.
  LinuxDisplayPorts(DisplayDirectory directory, I2CDevice i2c, DBusSession* bus);

  // DisplayServices
  std::optional<std::vector<DisplayID>> onlineDisplayList() override;
  bool isBuiltIn(DisplayID displayID) override;
  std::uint32_t vendorNumber(DisplayID displayID) override;
  std::uint32_t modelNumber(DisplayID displayID) override;
  std::uint32_t serialNumber(DisplayID displayID) override;
  bool hasInfoDictionaryFunction() override { return true; }
  std::optional<PropertyValue> infoDictionary(DisplayID displayID) override;

  // DeviceRegistry
  std::optional<std::vector<RegistryEntry>> allEntries() override;
  std::optional<std::string> path(RegistryEntry entry) override;
  std::optional<std::string> name(RegistryEntry entry) override;
  std::optional<PropertyValue> searchProperty(RegistryEntry entry, std::string_view key) override;
  std::optional<RegistryEntry> entryFromPath(std::string_view path) override;

  // AVServices
  bool hasCreateWithService() override { return true; }
  std::shared_ptr<AVService> createWithService(RegistryEntry entry) override;
  bool hasWriteI2C() override { return true; }
  std::int32_t writeI2C(AVService& service, std::uint32_t chipAddress, std::uint32_t dataAddress,
                        const std::uint8_t* buffer, std::uint32_t length) override;
  bool hasReadI2C() override { return true; }
  std::int32_t readI2C(AVService& service, std::uint32_t chipAddress, std::uint32_t dataAddress, std::uint8_t* buffer,
                       std::uint32_t length) override;

  // PanelBrightnessServices: logind's SetBrightness stands in for the panel
  // service (no root needed); the "brightness" parameter writes sysfs directly.
  bool hasCanChangeBrightness() override;
  bool canChangeBrightness(DisplayID displayID) override;
  bool hasGetBrightness() override;
  std::int32_t getBrightness(DisplayID displayID, float& level) override;
  bool hasSetBrightness() override;
  std::int32_t setBrightness(DisplayID displayID, float level) override;
  bool hasSetBrightnessSmooth() override { return false; }
  std::int32_t setBrightnessSmooth(DisplayID displayID, float level) override;
  std::uint32_t brightnessSteps(DisplayID displayID) override;
  std::int32_t setFloatParameter(RegistryEntry entry, std::string_view key, float value) override;
  std::int32_t getFloatParameter(RegistryEntry entry, std::string_view key, float& value) override;
  std::string errorText(std::int32_t code) override { return ioResultText(code); }

  // Re-reads RandR and sysfs and rebuilds the registry.
  void refresh();
  const DisplayDirectory& directory() const { return directory_; }

  // Where a display without a kernel connector (a virtual or proprietary
  // driver's output) lives in the registry.
  static std::string outputLocation(const std::string& outputName) { return "/x11/outputs/" + outputName; }

 private:
  struct Entry {
    std::string path;
    std::string name;
    PropertyDictionary properties;
    std::optional<int> i2cBus;             // DDC channel entries
    // Built-in panel entries; on a channel entry, the ddcci driver's device that stands in for the bus.
    std::optional<BacklightDevice> backlight;
  };
  const LinuxDisplay* find(DisplayID displayID);
  const Entry* entry(RegistryEntry handle) const;
  std::string location(const LinuxDisplay& display) const;
  // Writes a fraction 0...1 of the device's range: through logind, else the
  // device file where logind cannot and the file is writable. Where neither
  // may, the log says once per device how to allow it, and the result is
  // notPermitted.
  std::int32_t writeBacklight(const BacklightDevice& device, double fraction);

  DisplayDirectory directory_;
  I2CDevice i2c_;
  DBusSession* bus_;
  bool refreshed_ = false;
  // Handles count up across rebuilds, so a handle from before a refresh finds nothing.
  RegistryEntry firstHandle_ = 1;
  std::vector<Entry> entries_;
  bool writesSysfsDirectly_ = false;  // logind could not, the device file could
  std::set<std::string> unwritableDevices_;  // backlight devices the log has explained
  std::set<std::string> announcedMonitorDevices_;  // ddcci devices the log has named
};
