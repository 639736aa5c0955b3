// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxDisplayPorts.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/linux/DBusSession.hpp"
#include "services/AppLog.hpp"

LinuxDisplayPorts::LinuxDisplayPorts(DisplayDirectory directory, DBusSession* bus)
    : directory_(std::move(directory)), bus_(bus) {}

DisplayFacts LinuxDisplayPorts::factsOf(const LinuxDisplay& display) {
  DisplayFacts facts{.id = display.id,
                     .connector = display.connector ? display.connector->name : display.outputName,
                     .outputName = display.outputName,
                     .edid = display.edid,
                     .builtIn = display.isBuiltIn,
                     .i2cBus = display.i2cBus};
  if (display.backlight) facts.backlight = display.backlight->name;
  return facts;
}

std::optional<std::vector<DisplayFacts>> LinuxDisplayPorts::connectedDisplays() {
  std::vector<DisplayFacts> facts;
  for (const auto& display : directory_.refresh()) {
    if (!display.isBuiltIn && display.backlight && display.i2cBus &&
        announcedMonitorDevices_.insert(display.backlight->name).second)
      AppLog::app.log("The kernel's ddcci driver owns the bus of " + display.outputName + " (i2c-" +
                      std::to_string(*display.i2cBus) + "): driving it through " + display.backlight->folder.string());
    facts.push_back(factsOf(display));
  }
  return facts;
}

BacklightDevice LinuxDisplayPorts::backlightDevice(const std::string& name) const {
  for (const auto& display : directory_.displays())
    if (display.backlight && display.backlight->name == name) return *display.backlight;
  return directory_.backlight().device(name);
}

std::optional<double> LinuxDisplayPorts::level(const std::string& device) {
  return directory_.backlight().fraction(backlightDevice(device));
}

std::uint32_t LinuxDisplayPorts::steps(const std::string& device) {
  return directory_.backlight().maxBrightness(backlightDevice(device)).value_or(0);
}

BacklightStatus LinuxDisplayPorts::setLevel(const std::string& name, double fraction) {
  const BacklightDevice device = backlightDevice(name);
  const auto max = directory_.backlight().maxBrightness(device);
  if (!max) return BacklightStatus::noDevice;
  const std::uint32_t raw = Backlight::rawLevel(fraction, *max);
  const bool askLogind = bus_ && !writesSysfsDirectly_;
  std::string busError = bus_ ? "not asked since the file was writable" : "no system bus";
  if (askLogind && bus_->setBrightness("backlight", device.name, raw, &busError) >= 0) return BacklightStatus::ok;
  const int fileError = directory_.backlight().writeRaw(device, raw);
  if (fileError == 0) {
    // No logind on the bus, or none for this session (a container, another
    // init): the writable device file does the same job.
    if (askLogind)
      AppLog::app.log("logind cannot set the brightness of " + device.name + " (" + busError + "): writing " +
                      (device.folder / "brightness").string() + " directly from now on");
    writesSysfsDirectly_ = true;
    unwritableDevices_.erase(device.name);
    return BacklightStatus::ok;
  }
  writesSysfsDirectly_ = false;  // the file no longer takes it: logind may
  const bool refused = fileError == EACCES || fileError == EPERM || fileError == EROFS;
  if (unwritableDevices_.insert(device.name).second) {
    const std::string file = (device.folder / "brightness").string();
    const std::string cause = "Cannot set the brightness of " + device.name + ": logind did not (" + busError +
                              ") and writing " + file + " failed (" + std::strerror(fileError) + ")";
    AppLog::app.error(refused ? cause + ". Run Dimmora in a logind session, or give your user write access to " +
                                    file + ", for example with a udev rule that hands it to the video group, "
                                    "and join that group"
                              : cause);
  }
  if (refused) return BacklightStatus::noAccess;
  return fileError == ENOENT || fileError == ENODEV ? BacklightStatus::noDevice : BacklightStatus::failed;
}
