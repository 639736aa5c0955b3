// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimulatedMachine.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/MainLoop.hpp"
#include "ports/AVServices.hpp"
#include "ports/DeviceRegistry.hpp"
#include "ports/DisplayServices.hpp"
#include "ports/PanelBrightnessServices.hpp"

namespace {
std::string generatedUUID(DisplayID id) {
  char text[40];
  std::snprintf(text, sizeof text, "5D1E0000-0000-4000-8000-%012X", static_cast<unsigned>(id));
  return text;
}

PropertyDictionary infoDictionaryFor(const std::optional<std::string>& uuid, const std::string& location) {
  PropertyDictionary info{{"IODisplayLocation", location}, {"DisplayProductID", 0.0}};
  if (uuid) info["kCGDisplayUUID"] = *uuid;
  return info;
}

PropertyDictionary displayAttributes(const std::optional<std::string>& productName,
                                     const std::optional<std::string>& transport) {
  PropertyDictionary product;
  if (productName) product["ProductName"] = *productName;
  PropertyDictionary attributes{{"ProductAttributes", std::move(product)}};
  if (transport) attributes["Transport"] = PropertyDictionary{{"Downstream", *transport}};
  return attributes;
}
}  // namespace

// ---------------------------------------------------------------------------
class SimulatedMachine::Displays final : public DisplayServices {
 public:
  explicit Displays(SimulatedMachine& machine) : machine_(machine) {}
  std::optional<std::vector<DisplayID>> onlineDisplayList() override {
    if (!machine_.functions.onlineList) return std::nullopt;
    return machine_.onlineDisplayIDs();
  }
  bool isBuiltIn(DisplayID id) override {
    const auto* d = machine_.connectedDisplay(id);
    return d && d->isBuiltIn();
  }
  std::uint32_t vendorNumber(DisplayID id) override { return field(id, &VirtualDisplay::vendor); }
  std::uint32_t modelNumber(DisplayID id) override { return field(id, &VirtualDisplay::model); }
  std::uint32_t serialNumber(DisplayID id) override { return field(id, &VirtualDisplay::serial); }
  bool hasInfoDictionaryFunction() override { return machine_.functions.infoDictionary; }
  std::optional<PropertyValue> infoDictionary(DisplayID id) override {
    const auto* d = machine_.connectedDisplay(id);
    return d ? d->infoDictionary : std::nullopt;
  }

 private:
  std::uint32_t field(DisplayID id, std::uint32_t VirtualDisplay::*member) {
    const auto* d = machine_.connectedDisplay(id);
    return d ? d->*member : 0;
  }
  SimulatedMachine& machine_;
};

// ---------------------------------------------------------------------------
// Each connected display contributes its own entry, then its audio-video
// service entry, in the online order: the layout the transport walks.
class SimulatedMachine::Registry final : public DeviceRegistry {
 public:
  explicit Registry(SimulatedMachine& machine) : machine_(machine) {}
  std::optional<std::vector<RegistryEntry>> allEntries() override {
    ++machine_.registryWalks_;
    std::vector<RegistryEntry> entries;
    for (const auto& d : machine_.displays_) {
      if (!d->isConnected() || !d->inRegistry) continue;
      entries.push_back(displayEntry(d->id()));
      if (d->serviceLocation) entries.push_back(serviceEntry(d->id()));
    }
    return entries;
  }
  std::optional<std::string> path(RegistryEntry entry) override {
    const auto* d = owner(entry);
    if (!d) return std::nullopt;
    return isService(entry) ? d->registryPath + "/" + d->serviceEntryName : d->registryPath;
  }
  std::optional<std::string> name(RegistryEntry entry) override {
    const auto* d = owner(entry);
    if (!d) return std::nullopt;
    if (isService(entry)) return d->serviceEntryName;
    return d->registryPath.substr(d->registryPath.rfind('/') + 1);
  }
  std::optional<PropertyValue> searchProperty(RegistryEntry entry, std::string_view key) override {
    const auto* d = owner(entry);
    if (!d) return std::nullopt;
    if (isService(entry)) {
      if (key == "Location") return PropertyValue(*d->serviceLocation);
      return std::nullopt;
    }
    const auto found = d->registryProperties.find(key);
    if (found == d->registryProperties.end()) return std::nullopt;
    return found->second;
  }
  std::optional<RegistryEntry> entryFromPath(std::string_view path) override {
    for (const auto& d : machine_.displays_) {
      if (!d->isConnected() || !d->inRegistry) continue;
      if (d->registryPath == path) return displayEntry(d->id());
    }
    return std::nullopt;
  }

  // The display an entry belongs to, while the entry is in the registry.
  const VirtualDisplay* owner(RegistryEntry entry) const {
    const auto* d = machine_.connectedDisplay(static_cast<DisplayID>(entry / 2));
    if (!d || !d->inRegistry || (isService(entry) && !d->serviceLocation)) return nullptr;
    return d;
  }
  static bool isService(RegistryEntry entry) { return entry % 2 == 1; }

 private:
  SimulatedMachine& machine_;
};

// ---------------------------------------------------------------------------
namespace {
struct SimAVService final : AVService {
  explicit SimAVService(DisplayID id) : displayID(id) {}
  DisplayID displayID;
};
}  // namespace

class SimulatedMachine::AV final : public AVServices {
 public:
  explicit AV(SimulatedMachine& machine) : machine_(machine) {}
  bool hasCreateWithService() override { return machine_.functions.avCreate; }
  std::shared_ptr<AVService> createWithService(RegistryEntry entry) override {
    if (!Registry::isService(entry) || !machine_.registry_->owner(entry)) return nullptr;
    return std::make_shared<SimAVService>(static_cast<DisplayID>(entry / 2));
  }
  bool hasWriteI2C() override { return machine_.functions.i2cWrite; }
  std::int32_t writeI2C(AVService& service, std::uint32_t chip, std::uint32_t dataAddress, const std::uint8_t* buffer,
                        std::uint32_t length) override {
    const DisplayID id = static_cast<SimAVService&>(service).displayID;
    const std::int32_t result = machine_.display(id).i2cWrite(machine_.busMicroseconds(), chip, dataAddress, buffer, length);
    machine_.i2cLog_.push_back({machine_.busMicroseconds() / 1e6, id, true, chip, dataAddress, {buffer, buffer + length}, result});
    return result;
  }
  bool hasReadI2C() override { return machine_.functions.i2cRead; }
  std::int32_t readI2C(AVService& service, std::uint32_t chip, std::uint32_t dataAddress, std::uint8_t* buffer,
                       std::uint32_t length) override {
    const DisplayID id = static_cast<SimAVService&>(service).displayID;
    const std::int32_t result = machine_.display(id).i2cRead(machine_.busMicroseconds(), chip, dataAddress, buffer, length);
    machine_.i2cLog_.push_back({machine_.busMicroseconds() / 1e6, id, false, chip, dataAddress, {buffer, buffer + length}, result});
    return result;
  }

 private:
  SimulatedMachine& machine_;
};

// ---------------------------------------------------------------------------
class SimulatedMachine::Panel final : public PanelBrightnessServices {
 public:
  explicit Panel(SimulatedMachine& machine) : machine_(machine) {}
  bool hasCanChangeBrightness() override { return machine_.functions.canChangeBrightness; }
  bool canChangeBrightness(DisplayID id) override {
    const auto* d = panel(id);
    return d && d->canChangeBrightness;
  }
  std::uint32_t brightnessSteps(DisplayID id) override {
    const auto* d = panel(id);
    return d ? d->backlightSteps : 0;
  }
  bool hasGetBrightness() override { return machine_.functions.getBrightness; }
  std::int32_t getBrightness(DisplayID id, float& level) override {
    const auto* d = panel(id);
    if (!d) return IOResult::noDevice;
    if (d->getResult == 0) level = d->panelLevel();
    return d->getResult;
  }
  bool hasSetBrightness() override { return machine_.functions.setBrightness; }
  std::int32_t setBrightness(DisplayID id, float level) override {
    return set(id, level, PanelWrite::Via::displayServices, &VirtualDisplay::setResult);
  }
  bool hasSetBrightnessSmooth() override { return machine_.functions.setBrightnessSmooth; }
  std::int32_t setBrightnessSmooth(DisplayID id, float level) override {
    return set(id, level, PanelWrite::Via::displayServicesSmooth, &VirtualDisplay::smoothSetResult);
  }
  std::int32_t setFloatParameter(RegistryEntry entry, std::string_view key, float value) override {
    VirtualDisplay* d = parameterOwner(entry, key);
    if (!d) return IOResult::unsupported;
    if (d->parameterResult == 0) d->setPanelLevel(value);
    machine_.panelLog_.push_back({machine_.time(), d->id(), PanelWrite::Via::parameter, value, d->parameterResult});
    return d->parameterResult;
  }
  std::int32_t getFloatParameter(RegistryEntry entry, std::string_view key, float& value) override {
    const VirtualDisplay* d = parameterOwner(entry, key);
    if (!d) return IOResult::unsupported;
    if (d->parameterResult == 0) value = d->panelLevel();
    return d->parameterResult;
  }
  std::string errorText(std::int32_t code) override {
    switch (code) {
      case IOResult::success: return "success";
      case IOResult::error: return "general error";
      case IOResult::noDevice: return "no such device";
      case IOResult::unsupported: return "unsupported function";
      case IOResult::notResponding: return "device not responding";
      default: return "";
    }
  }

 private:
  VirtualDisplay* panel(DisplayID id) {
    auto* d = machine_.connectedDisplay(id);
    return d && d->isBuiltIn() ? d : nullptr;
  }
  VirtualDisplay* parameterOwner(RegistryEntry entry, std::string_view key) {
    if (Registry::isService(entry) || key != "brightness" || !machine_.registry_->owner(entry)) return nullptr;
    return panel(static_cast<DisplayID>(entry / 2));
  }
  std::int32_t set(DisplayID id, float level, PanelWrite::Via via, std::int32_t VirtualDisplay::*result) {
    VirtualDisplay* d = panel(id);
    if (!d) return IOResult::noDevice;
    const std::int32_t code = d->*result;
    if (code == 0) d->setPanelLevel(level);
    machine_.panelLog_.push_back({machine_.time(), id, via, level, code});
    return code;
  }
  SimulatedMachine& machine_;
};

// ---------------------------------------------------------------------------
class SimulatedMachine::Gamma final : public GammaTables {
 public:
  explicit Gamma(SimulatedMachine& machine) : machine_(machine) {}
  bool hasCapacity() override { return machine_.functions.gammaCapacity; }
  std::uint32_t capacity(DisplayID id) override {
    const auto* d = machine_.connectedDisplay(id);
    return d ? d->gammaCapacity : 0;
  }
  bool hasGetTransfer() override { return machine_.functions.gammaGet; }
  std::int32_t getTransfer(DisplayID id, std::uint32_t capacity, float* red, float* green, float* blue,
                           std::uint32_t& sampleCount) override {
    VirtualDisplay* d = machine_.connectedDisplay(id);
    if (!d) return invalidDisplay;
    if (VirtualDisplay::consume(d->failGammaReads_)) return d->gammaFaultResult;
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(capacity, d->gammaRed.size()));
    std::copy_n(d->gammaRed.begin(), n, red);
    std::copy_n(d->gammaGreen.begin(), n, green);
    std::copy_n(d->gammaBlue.begin(), n, blue);
    sampleCount = n;
    return success;
  }
  bool hasSetTransfer() override { return machine_.functions.gammaSet; }
  std::int32_t setTransfer(DisplayID id, std::uint32_t sampleCount, const float* red, const float* green,
                           const float* blue) override {
    VirtualDisplay* d = machine_.connectedDisplay(id);
    std::int32_t result = success;
    if (!d) {
      result = invalidDisplay;
    } else if (sampleCount == 0 || sampleCount > d->gammaCapacity) {
      result = illegalArgument;
    } else if (VirtualDisplay::consume(d->failGammaWrites_)) {
      result = d->gammaFaultResult;
    } else {
      d->gammaRed.assign(red, red + sampleCount);
      d->gammaGreen.assign(green, green + sampleCount);
      d->gammaBlue.assign(blue, blue + sampleCount);
    }
    const double scale = sampleCount ? static_cast<double>(red[sampleCount - 1]) : 0.0;
    machine_.gammaLog_.push_back({machine_.time(), id, sampleCount, scale, result});
    return result;
  }

 private:
  SimulatedMachine& machine_;
};

// ---------------------------------------------------------------------------
SimulatedMachine::SimulatedMachine(MainLoop* clock)
    : clock_(clock),
      displayServices_(std::make_unique<Displays>(*this)),
      registry_(std::make_unique<Registry>(*this)),
      av_(std::make_unique<AV>(*this)),
      panel_(std::make_unique<Panel>(*this)),
      gamma_(std::make_unique<Gamma>(*this)) {}

SimulatedMachine::~SimulatedMachine() = default;

VirtualDisplay& SimulatedMachine::add(DisplayID id, bool builtIn) {
  if (id == 0) id = nextID_;
  if (hasDisplay(id)) {
    std::fprintf(stderr, "SimulatedMachine: display %u added twice\n", static_cast<unsigned>(id));
    std::abort();
  }
  nextID_ = std::max(nextID_, id + 1);
  displays_.push_back(std::make_unique<VirtualDisplay>(id, builtIn));
  return *displays_.back();
}

VirtualDisplay& SimulatedMachine::addExternalMonitor(const ExternalMonitorOptions& options) {
  VirtualDisplay& d = add(options.id, false);
  d.vendor = options.vendor;
  d.model = options.model;
  d.serial = options.serial ? options.serial : d.id();
  d.registryPath = "/virtual/gpu0/port" + std::to_string(d.id()) + "/monitor" + std::to_string(d.id());
  const auto uuid = options.withoutUUID ? std::nullopt : std::optional(options.uuid.value_or(generatedUUID(d.id())));
  d.infoDictionary = infoDictionaryFor(uuid, d.registryPath);
  d.registryProperties = {{"DisplayAttributes", displayAttributes(options.productName, options.transport)}};
  d.serviceLocation = "External";
  d.setVCPMaximum(options.maximum);
  d.setVCPCurrent(options.brightness);
  d.gammaCapacity = options.gammaCapacity;
  d.resetGamma();
  return d;
}

VirtualDisplay& SimulatedMachine::addBuiltInPanel(const BuiltInPanelOptions& options) {
  VirtualDisplay& d = add(options.id, true);
  d.vendor = 0x610;
  d.model = 0xA050;
  d.serial = 0;
  d.registryPath = "/virtual/gpu0/panel" + std::to_string(d.id());
  const auto uuid = options.withoutUUID ? std::nullopt : std::optional(options.uuid.value_or(generatedUUID(d.id())));
  d.infoDictionary = infoDictionaryFor(uuid, d.registryPath);
  d.registryProperties = {{"DisplayAttributes", displayAttributes(options.productName, std::nullopt)}};
  d.serviceLocation = "Embedded";
  d.setPanelLevel(options.level);
  d.backlightSteps = options.backlightSteps;
  d.gammaCapacity = options.gammaCapacity;
  d.resetGamma();
  return d;
}

VirtualDisplay& SimulatedMachine::display(DisplayID id) {
  for (auto& d : displays_)
    if (d->id() == id) return *d;
  std::fprintf(stderr, "SimulatedMachine: no display %u\n", static_cast<unsigned>(id));
  std::abort();
}

bool SimulatedMachine::hasDisplay(DisplayID id) const {
  return std::any_of(displays_.begin(), displays_.end(), [id](const auto& d) { return d->id() == id; });
}

VirtualDisplay* SimulatedMachine::connectedDisplay(DisplayID id) {
  for (auto& d : displays_)
    if (d->id() == id) return d->isConnected() ? d.get() : nullptr;
  return nullptr;
}

std::vector<DisplayID> SimulatedMachine::onlineDisplayIDs() const {
  std::vector<DisplayID> ids;
  for (const auto& d : displays_)
    if (d->isConnected()) ids.push_back(d->id());
  return ids;
}

void SimulatedMachine::disconnect(DisplayID id) { display(id).connected_ = false; }
void SimulatedMachine::connect(DisplayID id) { display(id).connected_ = true; }

SystemPorts SimulatedMachine::ports() {
  SystemPorts ports;
  ports.displays = displayServices_.get();
  ports.registry = registry_.get();
  ports.avServices = av_.get();
  ports.panelBrightness = panel_.get();
  ports.gamma = gamma_.get();
  return ports;
}

DisplayServices& SimulatedMachine::displayServices() { return *displayServices_; }
DeviceRegistry& SimulatedMachine::registry() { return *registry_; }
AVServices& SimulatedMachine::avServices() { return *av_; }
PanelBrightnessServices& SimulatedMachine::panelBrightness() { return *panel_; }
GammaTables& SimulatedMachine::gammaTables() { return *gamma_; }

std::vector<SimulatedMachine::I2CTransfer> SimulatedMachine::i2cLog(DisplayID id, bool setOnly) const {
  std::vector<I2CTransfer> out;
  for (const auto& t : i2cLog_) {
    if (t.displayID != id) continue;
    if (setOnly && !(t.isWrite && t.bytes.size() == 6 && t.bytes[1] == 0x03)) continue;
    out.push_back(t);
  }
  return out;
}

void SimulatedMachine::clearLogs() {
  i2cLog_.clear();
  panelLog_.clear();
  gammaLog_.clear();
  registryWalks_ = 0;
}

double SimulatedMachine::time() const { return clock_ ? clock_->uptime() : 0.0; }

std::uint64_t SimulatedMachine::busMicroseconds() const {
  const double loopMicroseconds = clock_ ? std::round(clock_->uptime() * 1e6) : 0.0;
  return static_cast<std::uint64_t>(loopMicroseconds);
}
