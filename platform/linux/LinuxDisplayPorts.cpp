// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxDisplayPorts.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "display/DDCBrightness/DDCIO.hpp"
#include "platform/linux/DBusSession.hpp"
#include "services/AppLog.hpp"

namespace {
// The DDC channel of one display: the bus behind a /dev/i2c-N.
class I2CChannel final : public AVService {
 public:
  explicit I2CChannel(int bus) : bus(bus) {}
  const int bus;
  // A request whose reply is still to be read, with the bus locked meanwhile.
  std::unique_ptr<I2CTransfer> awaitingReply;
};

// A monitor whose bus the kernel's ddcci driver owns: that driver speaks
// DDC/CI on it and offers the brightness (VCP 0x10) as a backlight device,
// so brightness messages are carried out on the device instead.
class BacklightChannel final : public AVService {
 public:
  explicit BacklightChannel(BacklightDevice device) : device(std::move(device)) {}
  const BacklightDevice device;
  bool queried = false;  // a Get VCP request for brightness awaits its reply
};
}  // namespace

LinuxDisplayPorts::LinuxDisplayPorts(DisplayDirectory directory, I2CDevice i2c, DBusSession* bus)
    : directory_(std::move(directory)), i2c_(std::move(i2c)), bus_(bus) {}

std::string LinuxDisplayPorts::location(const LinuxDisplay& display) const {
  return display.connector ? display.connector->folder.string() : outputLocation(display.outputName);
}

void LinuxDisplayPorts::refresh() {
  directory_.refresh();
  refreshed_ = true;
  firstHandle_ += entries_.size();
  entries_.clear();
  // The transport takes the first external channel after a display's entry,
  // so displays without a channel come last: they must not reach another's.
  std::vector<const LinuxDisplay*> order;
  for (const auto& display : directory_.displays()) order.push_back(&display);
  std::stable_partition(order.begin(), order.end(),
                        [](const LinuxDisplay* d) { return d->i2cBus.has_value(); });
  for (const auto* displayPointer : order) {
    const auto& display = *displayPointer;
    Entry screen;
    screen.path = location(display);
    screen.name = display.connector ? display.connector->folder.filename().string() : display.outputName;
    PropertyDictionary attributes;
    if (display.edid && display.edid->monitorName)
      attributes["ProductAttributes"] = PropertyDictionary{{"ProductName", *display.edid->monitorName}};
    if (display.connector)
      attributes["Transport"] = PropertyDictionary{{"Downstream", display.connector->transportType()}};
    if (!attributes.empty()) screen.properties["DisplayAttributes"] = std::move(attributes);
    if (display.isBuiltIn) screen.backlight = display.backlight;
    entries_.push_back(std::move(screen));
    if (display.i2cBus) {
      Entry channel;
      channel.path = location(display) + "/i2c-" + std::to_string(*display.i2cBus);
      channel.name = "DCPAVServiceProxy";
      channel.properties["Location"] = display.isBuiltIn ? "Embedded" : "External";
      channel.i2cBus = display.i2cBus;
      if (!display.isBuiltIn && display.backlight) {
        channel.backlight = display.backlight;
        if (announcedMonitorDevices_.insert(display.backlight->name).second)
          AppLog::app.log("The kernel's ddcci driver owns the bus of " + display.outputName + " (i2c-" +
                          std::to_string(*display.i2cBus) + "): driving it through " +
                          display.backlight->folder.string());
      }
      entries_.push_back(std::move(channel));
    }
  }
}

const LinuxDisplay* LinuxDisplayPorts::find(DisplayID displayID) {
  if (!refreshed_) refresh();
  return directory_.display(displayID);
}

std::optional<std::vector<DisplayID>> LinuxDisplayPorts::onlineDisplayList() {
  refresh();
  std::vector<DisplayID> ids;
  for (const auto& d : directory_.displays()) ids.push_back(d.id);
  return ids;
}

bool LinuxDisplayPorts::isBuiltIn(DisplayID displayID) {
  const auto* d = find(displayID);
  return d && d->isBuiltIn;
}

std::uint32_t LinuxDisplayPorts::vendorNumber(DisplayID displayID) {
  const auto* d = find(displayID);
  return d && d->edid ? d->edid->vendor : 0;
}

std::uint32_t LinuxDisplayPorts::modelNumber(DisplayID displayID) {
  const auto* d = find(displayID);
  return d && d->edid ? d->edid->product : 0;
}

std::uint32_t LinuxDisplayPorts::serialNumber(DisplayID displayID) {
  const auto* d = find(displayID);
  return d && d->edid ? d->edid->serial : 0;
}

std::optional<PropertyValue> LinuxDisplayPorts::infoDictionary(DisplayID displayID) {
  const auto* d = find(displayID);
  if (!d) return std::nullopt;
  PropertyDictionary dictionary;
  if (d->stableKey) dictionary["kCGDisplayUUID"] = *d->stableKey;
  if (!d->formerKeys.empty()) {
    std::string former;
    for (const auto& key : d->formerKeys) former += (former.empty() ? "" : " ") + key;
    dictionary["FormerDisplayUUIDs"] = former;
  }
  dictionary["IODisplayLocation"] = location(*d);
  return PropertyValue(std::move(dictionary));
}

const LinuxDisplayPorts::Entry* LinuxDisplayPorts::entry(RegistryEntry handle) const {
  if (handle < firstHandle_ || handle - firstHandle_ >= entries_.size()) return nullptr;
  return &entries_[handle - firstHandle_];
}

std::optional<std::vector<RegistryEntry>> LinuxDisplayPorts::allEntries() {
  if (!refreshed_) refresh();
  std::vector<RegistryEntry> handles;
  for (std::size_t i = 0; i < entries_.size(); ++i) handles.push_back(firstHandle_ + i);
  return handles;
}

std::optional<std::string> LinuxDisplayPorts::path(RegistryEntry handle) {
  const auto* e = entry(handle);
  if (!e || e->path.size() > 4096) return std::nullopt;
  return e->path;
}

std::optional<std::string> LinuxDisplayPorts::name(RegistryEntry handle) {
  const auto* e = entry(handle);
  if (!e || e->name.size() > 128) return std::nullopt;
  return e->name;
}

std::optional<PropertyValue> LinuxDisplayPorts::searchProperty(RegistryEntry handle, std::string_view key) {
  const auto* e = entry(handle);
  if (!e) return std::nullopt;
  // The entry itself first, then its children (entries whose path lies below it).
  if (const auto it = e->properties.find(key); it != e->properties.end()) return it->second;
  const auto prefix = e->path + "/";
  for (const auto& child : entries_) {
    if (child.path.compare(0, prefix.size(), prefix) != 0) continue;
    if (const auto it = child.properties.find(key); it != child.properties.end()) return it->second;
  }
  return std::nullopt;
}

std::optional<RegistryEntry> LinuxDisplayPorts::entryFromPath(std::string_view path) {
  if (!refreshed_) refresh();
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].path == path) return firstHandle_ + i;
  return std::nullopt;
}

std::shared_ptr<AVService> LinuxDisplayPorts::createWithService(RegistryEntry handle) {
  const auto* e = entry(handle);
  if (!e || !e->i2cBus) return nullptr;
  if (e->backlight) return std::make_shared<BacklightChannel>(*e->backlight);
  return std::make_shared<I2CChannel>(*e->i2cBus);
}

std::int32_t LinuxDisplayPorts::writeI2C(AVService& service, std::uint32_t chipAddress, std::uint32_t dataAddress,
                                         const std::uint8_t* buffer, std::uint32_t length) {
  if (auto* monitor = dynamic_cast<BacklightChannel*>(&service)) {
    // Set VCP Feature 0x10 (six bytes) or Get VCP Feature 0x10 (four), checksums intact.
    if (chipAddress != DDCIO::kChipAddress || dataAddress != DDCIO::kDataAddress ||
        (length != 6 && length != 4) || !DDCIO::isIntactHostMessage(buffer, length))
      return IOResult::unsupported;
    if (length == 4 && std::equal(buffer, buffer + length, DDCIO::getVCPFeatureRequest().begin())) {
      monitor->queried = true;
      return IOResult::success;
    }
    // A Set VCP Feature for brightness: its header is that of our own packet, the value follows.
    if (length != 6 || !std::equal(buffer, buffer + 3, DDCIO::setVCPFeaturePacket(0).begin()))
      return IOResult::unsupported;
    // The value counts to the maximum the Get VCP reply gave: the device's own.
    const auto max = directory_.backlight().maxBrightness(monitor->device);
    if (!max || *max == 0) return IOResult::noDevice;
    const double value = (buffer[3] << 8) | buffer[4];
    const auto result = writeBacklight(monitor->device, std::min(value / *max, 1.0));
    // Not the bus's permission: the i2c group or the udev rule would not help.
    return result == IOResult::notPermitted ? IOResult::error : result;
  }
  auto* channel = dynamic_cast<I2CChannel*>(&service);
  if (!channel || chipAddress > 0x7F || dataAddress > 0xFF) return IOResult::unsupported;
  channel->awaitingReply.reset();  // a reply never read lets go of the bus here
  auto transfer = i2c_.open(channel->bus, static_cast<std::uint8_t>(chipAddress));
  const auto result = transfer->write(static_cast<std::uint8_t>(dataAddress), std::span(buffer, length));
  // A Get VCP request and its reply are one transaction: the bus stays locked
  // until the reply is read, so no other tool's message lands between them.
  if (result == IOResult::success && length == 4 && buffer[1] == 0x01) channel->awaitingReply = std::move(transfer);
  return result;
}

std::int32_t LinuxDisplayPorts::readI2C(AVService& service, std::uint32_t chipAddress, std::uint32_t,
                                        std::uint8_t* buffer, std::uint32_t length) {
  // On i2c-dev a read goes straight to the chip; the monitor puts its own
  // source address first in the reply.
  if (auto* monitor = dynamic_cast<BacklightChannel*>(&service)) {
    // The Get VCP reply the monitor would give: maximum and current level of the device.
    if (chipAddress != DDCIO::kChipAddress || !buffer || length < 11 || !std::exchange(monitor->queried, false))
      return IOResult::notResponding;
    const auto max = directory_.backlight().maxBrightness(monitor->device);
    const auto fraction = directory_.backlight().fraction(monitor->device);
    if (!max || !fraction || *max > 0xFFFF) return IOResult::noDevice;
    const auto current = static_cast<std::uint16_t>(std::lround(*fraction * *max));
    const auto reply = DDCIO::vcpFeatureReply(static_cast<std::uint16_t>(*max), current);
    std::fill(buffer, buffer + length, 0);
    std::copy(reply.begin(), reply.end(), buffer);
    return IOResult::success;
  }
  auto* channel = dynamic_cast<I2CChannel*>(&service);
  if (!channel || chipAddress > 0x7F) return IOResult::unsupported;
  if (const auto transfer = std::move(channel->awaitingReply); transfer && transfer->chip() == chipAddress)
    return transfer->read(std::span(buffer, length));
  return i2c_.read(channel->bus, static_cast<std::uint8_t>(chipAddress), std::span(buffer, length));
}

bool LinuxDisplayPorts::hasCanChangeBrightness() { return bus_ && bus_->hasSystemBus(); }
bool LinuxDisplayPorts::hasGetBrightness() { return bus_ && bus_->hasSystemBus(); }
bool LinuxDisplayPorts::hasSetBrightness() { return bus_ && bus_->hasSystemBus(); }

bool LinuxDisplayPorts::canChangeBrightness(DisplayID displayID) {
  const auto* d = find(displayID);
  return d && d->isBuiltIn && d->backlight && directory_.backlight().maxBrightness(*d->backlight);
}

std::int32_t LinuxDisplayPorts::getBrightness(DisplayID displayID, float& level) {
  const auto* d = find(displayID);
  if (!d || !d->backlight) return IOResult::noDevice;
  const auto fraction = directory_.backlight().fraction(*d->backlight);
  if (!fraction) return IOResult::noDevice;
  level = static_cast<float>(*fraction);
  return IOResult::success;
}

std::int32_t LinuxDisplayPorts::setBrightness(DisplayID displayID, float level) {
  const auto* d = find(displayID);
  if (!d || !d->backlight || !bus_) return IOResult::noDevice;
  return writeBacklight(*d->backlight, level);
}

std::int32_t LinuxDisplayPorts::writeBacklight(const BacklightDevice& device, double fraction) {
  const auto max = directory_.backlight().maxBrightness(device);
  if (!max) return IOResult::noDevice;
  const std::uint32_t raw = Backlight::rawLevel(fraction, *max);
  const bool askLogind = bus_ && !writesSysfsDirectly_;
  std::string busError = bus_ ? "not asked since the file was writable" : "no system bus";
  if (askLogind && bus_->setBrightness("backlight", device.name, raw, &busError) >= 0) return IOResult::success;
  const int fileError = directory_.backlight().writeRaw(device, raw);
  if (fileError == 0) {
    // No logind on the bus, or none for this session (a container, another
    // init): the writable device file does the same job.
    if (askLogind)
      AppLog::app.log("logind cannot set the brightness of " + device.name + " (" + busError + "): writing " +
                      (device.folder / "brightness").string() + " directly from now on");
    writesSysfsDirectly_ = true;
    unwritableDevices_.erase(device.name);
    return IOResult::success;
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
  return refused ? IOResult::notPermitted : ioResultForErrno(fileError);
}

std::int32_t LinuxDisplayPorts::setBrightnessSmooth(DisplayID, float) { return IOResult::unsupported; }

std::uint32_t LinuxDisplayPorts::brightnessSteps(DisplayID displayID) {
  const auto* d = find(displayID);
  if (!d || !d->backlight) return 0;
  return directory_.backlight().maxBrightness(*d->backlight).value_or(0);
}

std::int32_t LinuxDisplayPorts::setFloatParameter(RegistryEntry handle, std::string_view key, float value) {
  const auto* e = entry(handle);
  if (key != "brightness") return IOResult::unsupported;
  if (!e || !e->backlight) return IOResult::noDevice;
  return writeBacklight(*e->backlight, value);
}

std::int32_t LinuxDisplayPorts::getFloatParameter(RegistryEntry handle, std::string_view key, float& value) {
  const auto* e = entry(handle);
  if (key != "brightness") return IOResult::unsupported;
  if (!e || !e->backlight) return IOResult::noDevice;
  const auto fraction = directory_.backlight().fraction(*e->backlight);
  if (!fraction) return IOResult::noDevice;
  value = static_cast<float>(*fraction);
  return IOResult::success;
}

