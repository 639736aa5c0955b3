// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "ports/DeviceRegistry.hpp"
#include "ports/SystemPorts.hpp"
#include "platform/sim/VirtualDisplay.hpp"

class MainLoop;

// What a new display looks like; every field has a usable default.
struct ExternalMonitorOptions {
  DisplayID id = 0;  // 0: the next free ID
  std::optional<std::string> productName = "Virtual Monitor";
  std::optional<std::string> uuid = std::nullopt;  // absent: a generated one, unless withoutUUID
  bool withoutUUID = false;
  std::optional<std::string> transport = "HDMI";  // DisplayAttributes/Transport/Downstream
  std::uint16_t brightness = 50;
  std::uint16_t maximum = 100;
  std::uint32_t vendor = 0x4D53;
  std::uint32_t model = 0x2701;
  std::uint32_t serial = 0;  // 0: the display ID
  std::uint32_t gammaCapacity = 256;
};
struct BuiltInPanelOptions {
  DisplayID id = 0;
  std::optional<std::string> productName = "Built-in Panel";
  std::optional<std::string> uuid = std::nullopt;
  bool withoutUUID = false;
  float level = 0.5f;
  std::uint32_t backlightSteps = 0;  // 0: the panel does not say
  std::uint32_t gammaCapacity = 256;
};

// A machine with virtual displays, serving the display ports (online list,
// registry, audio-video services, panel brightness, gamma tables). It records
// every I2C transfer, panel write and gamma write with the virtual time of
// the loop it was given, and never waits. The monitors live on that clock.
//
//   SimulatedMachine machine(&loop);
//   auto& monitor = machine.addExternalMonitor({.productName = "Studio 27", .brightness = 60});
//   ScopedSystemPorts scope(machine.ports());
class SimulatedMachine {
 public:
  using ExternalMonitorOptions = ::ExternalMonitorOptions;
  using BuiltInPanelOptions = ::BuiltInPanelOptions;

  // Which run-time-resolved functions the machine offers (all by default).
  struct Functions {
    bool onlineList = true;       // false: the online list cannot be read
    bool infoDictionary = true;   // the information-dictionary function
    bool avCreate = true;
    bool i2cWrite = true;
    bool i2cRead = true;
    bool canChangeBrightness = true;
    bool getBrightness = true;
    bool setBrightness = true;
    bool setBrightnessSmooth = true;
    bool gammaCapacity = true;
    bool gammaGet = true;
    bool gammaSet = true;
  };

  struct I2CTransfer {
    double time;  // the loop's clock
    DisplayID displayID;
    bool isWrite;
    std::uint32_t chipAddress;
    std::uint32_t dataAddress;
    std::vector<std::uint8_t> bytes;  // sent, or received
    std::int32_t result;
  };
  struct PanelWrite {
    enum class Via { displayServices, displayServicesSmooth, parameter };
    double time;
    DisplayID displayID;
    Via via;
    float level;
    std::int32_t result;
  };
  struct GammaWrite {
    double time;
    DisplayID displayID;
    std::uint32_t sampleCount;
    double scale;  // largest entry relative to the identity ramp
    std::int32_t result;
  };

  explicit SimulatedMachine(MainLoop* clock = nullptr);
  ~SimulatedMachine();
  SimulatedMachine(const SimulatedMachine&) = delete;
  SimulatedMachine& operator=(const SimulatedMachine&) = delete;

  VirtualDisplay& addExternalMonitor(const ExternalMonitorOptions& options = {});
  VirtualDisplay& addBuiltInPanel(const BuiltInPanelOptions& options = {});
  VirtualDisplay& display(DisplayID id);  // the display must exist
  bool hasDisplay(DisplayID id) const;
  // Online displays in the system's order.
  std::vector<DisplayID> onlineDisplayIDs() const;

  // A disconnected display leaves the online list and the registry; services
  // already created for it stop answering.
  void disconnect(DisplayID id);
  void connect(DisplayID id);

  Functions functions;

  // The ports, ready for ScopedSystemPorts (tests add the loop and the rest).
  SystemPorts ports();
  DisplayServices& displayServices();
  DeviceRegistry& registry();
  AVServices& avServices();
  PanelBrightnessServices& panelBrightness();
  GammaTables& gammaTables();

  // What happened, in order.
  const std::vector<I2CTransfer>& i2cLog() const { return i2cLog_; }
  const std::vector<PanelWrite>& panelLog() const { return panelLog_; }
  const std::vector<GammaWrite>& gammaLog() const { return gammaLog_; }
  // I2C transfers of one display; Set VCP writes only when setOnly.
  std::vector<I2CTransfer> i2cLog(DisplayID id, bool setOnly = false) const;
  // How many times the registry was walked (one per full listing).
  int registryWalks() const { return registryWalks_; }
  void clearLogs();

  double time() const;
  // The loop's clock in microseconds: the time the monitors see pass.
  std::uint64_t busMicroseconds() const;

 private:
  class Displays;
  class Registry;
  class AV;
  class Panel;
  class Gamma;
  friend class Displays;
  friend class Registry;
  friend class AV;
  friend class Panel;
  friend class Gamma;

  VirtualDisplay& add(DisplayID id, bool builtIn);
  VirtualDisplay* connectedDisplay(DisplayID id);
  // Registry handles: each display has its own entry and the service entry after it.
  static RegistryEntry displayEntry(DisplayID id) { return RegistryEntry(id) * 2; }
  static RegistryEntry serviceEntry(DisplayID id) { return RegistryEntry(id) * 2 + 1; }

  MainLoop* clock_;
  std::vector<std::unique_ptr<VirtualDisplay>> displays_;  // in the system's online order
  DisplayID nextID_ = 1;
  std::vector<I2CTransfer> i2cLog_;
  std::vector<PanelWrite> panelLog_;
  std::vector<GammaWrite> gammaLog_;
  int registryWalks_ = 0;

  std::unique_ptr<Displays> displayServices_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<AV> av_;
  std::unique_ptr<Panel> panel_;
  std::unique_ptr<Gamma> gamma_;
};
