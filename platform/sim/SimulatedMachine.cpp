// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimulatedMachine.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "base/MainLoop.hpp"
#include "ports/Displays.hpp"
#include "ports/SystemPorts.hpp"

// ---------------------------------------------------------------------------
class SimulatedMachine::Connected final : public Displays {
 public:
  explicit Connected(SimulatedMachine& machine) : machine_(machine) {}
  std::optional<std::vector<DisplayFacts>> connectedDisplays() override {
    ++machine_.displayReads_;
    if (!machine_.functions.onlineList) return std::nullopt;
    std::vector<DisplayFacts> facts;
    for (const auto& d : machine_.displays_) {
      if (!d->isConnected()) continue;
      facts.push_back({.id = d->id(),
                       .connector = d->connector,
                       .outputName = d->outputName.empty() ? d->connector : d->outputName,
                       .edid = d->edid(),
                       .builtIn = d->isBuiltIn(),
                       .i2cBus = d->i2cBus,
                       .backlight = d->backlight});
    }
    return facts;
  }

 private:
  SimulatedMachine& machine_;
};

// ---------------------------------------------------------------------------
// Each bus reaches the connected display that has it, if any. A bus carries
// one transfer at a time, in the order submitted, each taking its monitor's
// transfer time on the loop's clock; the result arrives on the loop when it ends.
class SimulatedMachine::Buses final : public I2CBuses {
 public:
  explicit Buses(SimulatedMachine& machine) : machine_(machine) {}

  ScheduledWork submit(I2CMessage message, std::function<void(I2CResult)> done) override {
    MainLoop* loop = &machine_.clock_;
    const double now = loop->uptime();
    double& freeAt = busFreeAt_[message.bus];
    const double start = std::max(now, freeAt);
    const VirtualDisplay* d = machine_.displayOnBus(message.bus);
    freeAt = start + (d ? d->transferMicroseconds / 1e6 : 0.0);
    auto step = std::make_shared<ScheduledWork>();
    auto state = std::make_shared<detail::WorkState>();
    state->onCancel = [step] { step->cancel(); };
    auto carry = [this, loop, step, state, message = std::move(message), end = freeAt,
                  done = std::move(done)]() mutable {
      I2CResult result = carryOut(message);
      *step = loop->after(end - loop->uptime(), [state, result = std::move(result), done = std::move(done)] {
        state->markDone();
        done(result);
      });
    };
    if (start <= now)
      carry();
    else
      *step = loop->after(start - now, std::move(carry));
    return ScheduledWork(std::move(state));
  }

 private:
  I2CResult carryOut(const I2CMessage& message) {
    VirtualDisplay* d = machine_.displayOnBus(message.bus);
    const auto now = machine_.busMicroseconds();
    I2CResult result = d ? d->i2cTransfer(now, message) : I2CResult{I2CStatus::noDevice, {}, "no such bus"};
    const DisplayID id = d ? d->id() : 0;
    const double time = now / 1e6;
    if (!message.write.empty())
      machine_.i2cLog_.push_back({time, id, message.bus, true, message.address, message.write,
                                  message.readLength > 0 ? I2CStatus::ok : result.status});
    if (message.readLength > 0) {
      auto received = result.read;
      received.resize(message.readLength, 0);
      machine_.i2cLog_.push_back({time, id, message.bus, false, message.address, std::move(received), result.status});
    }
    return result;
  }

  SimulatedMachine& machine_;
  std::map<int, double> busFreeAt_;  // the loop's clock when each bus's last transfer ends
};

// ---------------------------------------------------------------------------
// Backlight devices: a panel's level, or a ddcci driver's view of a monitor's VCP brightness.
class SimulatedMachine::Panels final : public Backlights {
 public:
  explicit Panels(SimulatedMachine& machine) : machine_(machine) {}
  std::optional<double> level(const std::string& device) override {
    VirtualDisplay* d = owner(device);
    if (d) ++d->levelReads;
    if (!d || !d->levelReadable) return std::nullopt;
    if (d->isBuiltIn()) return d->panelLevel();
    return d->vcpMaximum() ? static_cast<double>(d->vcpCurrent()) / d->vcpMaximum() : 0.0;
  }
  std::uint32_t steps(const std::string& device) override {
    const VirtualDisplay* d = owner(device);
    if (!d) return 0;
    return d->isBuiltIn() ? d->backlightSteps : d->vcpMaximum();
  }
  BacklightStatus setLevel(const std::string& device, double fraction) override {
    VirtualDisplay* d = owner(device);
    if (!d) return BacklightStatus::noDevice;
    const BacklightStatus status = d->setStatus;
    if (status == BacklightStatus::ok) {
      if (d->isBuiltIn())
        d->setPanelLevel(static_cast<float>(fraction));
      else
        d->setVCPCurrent(static_cast<std::uint16_t>(std::lround(fraction * d->vcpMaximum())));
    }
    machine_.panelLog_.push_back({machine_.time(), d->id(), static_cast<float>(fraction), status});
    return status;
  }

 private:
  VirtualDisplay* owner(const std::string& device) {
    for (auto& d : machine_.displays_)
      if (d->isConnected() && d->backlight == device) return d.get();
    return nullptr;
  }
  SimulatedMachine& machine_;
};

// ---------------------------------------------------------------------------
class SimulatedMachine::Gamma final : public GammaTables {
 public:
  explicit Gamma(SimulatedMachine& machine) : machine_(machine) {}
  std::uint32_t size(DisplayID id) override {
    const auto* d = machine_.connectedDisplay(id);
    return d ? d->gammaSize : 0;
  }
  Result read(DisplayID id, GammaTable& table) override {
    VirtualDisplay* d = machine_.connectedDisplay(id);
    if (!d) return Result::noSuchOutput;
    if (d->gammaSize == 0) return Result::noGamma;
    if (VirtualDisplay::consume(d->failGammaReads_)) return d->gammaFault;
    table = {d->gammaRed, d->gammaGreen, d->gammaBlue};
    return Result::ok;
  }
  Result write(DisplayID id, const GammaTable& table) override {
    VirtualDisplay* d = machine_.connectedDisplay(id);
    Result result = Result::ok;
    if (!d) {
      result = Result::noSuchOutput;
    } else if (d->gammaSize == 0) {
      result = Result::noGamma;
    } else if (table.red.size() != d->gammaSize || table.green.size() != d->gammaSize ||
               table.blue.size() != d->gammaSize) {
      result = Result::invalidSize;
    } else if (VirtualDisplay::consume(d->failGammaWrites_)) {
      result = d->gammaFault;
    } else {
      d->gammaRed = table.red;
      d->gammaGreen = table.green;
      d->gammaBlue = table.blue;
    }
    const double scale = table.red.empty() ? 0.0 : static_cast<double>(table.red.back());
    machine_.gammaLog_.push_back({machine_.time(), id, static_cast<std::uint32_t>(table.size()), scale, result});
    return result;
  }

 private:
  SimulatedMachine& machine_;
};

// ---------------------------------------------------------------------------
SimulatedMachine::SimulatedMachine(MainLoop& clock)
    : clock_(clock),
      connected_(std::make_unique<Connected>(*this)),
      buses_(std::make_unique<Buses>(*this)),
      panels_(std::make_unique<Panels>(*this)),
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
  d.hasEdid = !options.withoutEdid;
  d.productName = options.productName;
  d.serialText = options.serialText;
  d.connector = options.connector.empty() ? "HDMI-A-" + std::to_string(d.id()) : options.connector;
  d.i2cBus = static_cast<int>(d.id()) + 10;
  d.setVCPMaximum(options.maximum);
  d.setVCPCurrent(options.brightness);
  d.gammaSize = options.gammaSize;
  d.resetGamma();
  return d;
}

VirtualDisplay& SimulatedMachine::addBuiltInPanel(const BuiltInPanelOptions& options) {
  VirtualDisplay& d = add(options.id, true);
  d.vendor = 0x610;
  d.model = 0xA050;
  d.serial = 0;
  d.hasEdid = !options.withoutEdid;
  d.productName = options.productName;
  d.serialText = options.serialText;
  d.connector = "eDP-" + std::to_string(d.id());
  d.backlight = "panel" + std::to_string(d.id());
  d.setPanelLevel(options.level);
  d.backlightSteps = options.backlightSteps;
  d.gammaSize = options.gammaSize;
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
  ports.displays = connected_.get();
  ports.i2c = buses_.get();
  ports.backlights = panels_.get();
  ports.gamma = gamma_.get();
  return ports;
}

Displays& SimulatedMachine::displays() { return *connected_; }
I2CBuses& SimulatedMachine::i2cBuses() { return *buses_; }
Backlights& SimulatedMachine::backlights() { return *panels_; }
GammaTables& SimulatedMachine::gammaTables() { return *gamma_; }

std::vector<SimulatedMachine::I2CTransfer> SimulatedMachine::i2cLog(DisplayID id, bool setOnly) const {
  std::vector<I2CTransfer> out;
  for (const auto& t : i2cLog_) {
    if (t.displayID != id) continue;
    if (setOnly && !(t.isWrite && t.bytes.size() == 7 && t.bytes[2] == 0x03)) continue;
    out.push_back(t);
  }
  return out;
}

void SimulatedMachine::clearLogs() {
  i2cLog_.clear();
  panelLog_.clear();
  gammaLog_.clear();
  displayReads_ = 0;
}

double SimulatedMachine::time() const { return clock_.uptime(); }

VirtualDisplay* SimulatedMachine::displayOnBus(int bus) {
  for (auto& display : displays_)
    if (display->isConnected() && display->i2cBus == bus) return display.get();
  return nullptr;
}

std::uint64_t SimulatedMachine::busMicroseconds() const {
  return static_cast<std::uint64_t>(std::round(clock_.uptime() * 1e6));
}
