// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "ports/Backlights.hpp"
#include "ports/I2CBuses.hpp"
#include "ports/SystemPorts.hpp"
#include "platform/sim/VirtualDisplay.hpp"

class MainLoop;

// What a new display looks like; every field has a usable default.
struct ExternalMonitorOptions {
  DisplayID id = 0;  // 0: the next free ID
  std::optional<std::string> productName = "Virtual 27";  // an EDID holds 13 characters
  std::optional<std::string> serialText = std::nullopt;  // the EDID's serial number text
  bool withoutEdid = false;
  std::string connector = "";  // empty: HDMI-A-<id>
  std::uint16_t brightness = 50;
  std::uint16_t maximum = 100;
  std::uint32_t vendor = 0x4D53;
  std::uint32_t model = 0x2701;
  std::uint32_t serial = 0;  // 0: the display ID
  std::uint32_t gammaSize = 256;
};
struct BuiltInPanelOptions {
  DisplayID id = 0;
  std::optional<std::string> productName = "Built-in Panel";
  std::optional<std::string> serialText = std::nullopt;
  bool withoutEdid = false;
  float level = 0.5f;
  std::uint32_t backlightSteps = 0;  // 0: the panel does not say
  std::uint32_t gammaSize = 256;
};

// A machine with virtual displays, serving the display ports (connected
// displays, I2C buses, backlight devices, gamma tables). An external monitor
// has connector HDMI-A-<id> and I2C bus <id> + 10 unless told otherwise; a
// panel eDP-<id> and backlight device panel<id>. It records every I2C
// transfer, backlight write and gamma write with the virtual time of the loop
// it was given, and never waits: a transfer's result
// arrives on that loop. The monitors live on that clock.
//
//   SimulatedMachine machine(loop);
//   auto& monitor = machine.addExternalMonitor({.productName = "Studio 27", .brightness = 60});
//   SimulatedMachineScope scope(machine.ports());
class SimulatedMachine {
 public:
  using ExternalMonitorOptions = ::ExternalMonitorOptions;
  using BuiltInPanelOptions = ::BuiltInPanelOptions;

  // Which facilities the machine offers (all by default).
  struct Functions {
    bool onlineList = true;       // false: the connected displays cannot be read
  };

  struct I2CTransfer {
    double time;  // the loop's clock
    DisplayID displayID;  // the display on the bus; 0: none
    int bus;
    bool isWrite;
    std::uint8_t address;
    std::vector<std::uint8_t> bytes;  // sent, or received
    I2CStatus status;
  };
  struct PanelWrite {
    double time;
    DisplayID displayID;
    float level;
    BacklightStatus status;
  };
  struct GammaWrite {
    double time;
    DisplayID displayID;
    std::uint32_t size;
    double scale;  // largest entry relative to the identity ramp
    GammaTables::Result result;
  };

  explicit SimulatedMachine(MainLoop& clock);
  ~SimulatedMachine();
  SimulatedMachine(const SimulatedMachine&) = delete;
  SimulatedMachine& operator=(const SimulatedMachine&) = delete;

  VirtualDisplay& addExternalMonitor(const ExternalMonitorOptions& options = {});
  VirtualDisplay& addBuiltInPanel(const BuiltInPanelOptions& options = {});
  VirtualDisplay& display(DisplayID id);  // the display must exist
  bool hasDisplay(DisplayID id) const;
  // Online displays in the system's order.
  std::vector<DisplayID> onlineDisplayIDs() const;

  // A disconnected display leaves the list of connected displays, and its bus
  // and backlight stop answering.
  void disconnect(DisplayID id);
  void connect(DisplayID id);

  Functions functions;

  // The ports, ready for SimulatedMachineScope (tests add the loop and the rest).
  SystemPorts ports();
  Displays& displays();
  I2CBuses& i2cBuses();
  Backlights& backlights();
  GammaTables& gammaTables();

  // What happened, in order.
  const std::vector<I2CTransfer>& i2cLog() const { return i2cLog_; }
  const std::vector<PanelWrite>& panelLog() const { return panelLog_; }
  const std::vector<GammaWrite>& gammaLog() const { return gammaLog_; }
  // I2C transfers of one display; Set VCP writes only when setOnly.
  std::vector<I2CTransfer> i2cLog(DisplayID id, bool setOnly = false) const;
  // How many times the connected displays were read.
  int displayReads() const { return displayReads_; }
  void clearLogs();

  double time() const;
  // The loop's clock in microseconds: the time the monitors see pass.
  std::uint64_t busMicroseconds() const;

 private:
  class Connected;
  class Buses;
  class Panels;
  class Gamma;
  friend class Connected;
  friend class Buses;
  friend class Panels;
  friend class Gamma;

  VirtualDisplay& add(DisplayID id, bool builtIn);
  VirtualDisplay* connectedDisplay(DisplayID id);
  VirtualDisplay* displayOnBus(int bus);

  MainLoop& clock_;
  std::vector<std::unique_ptr<VirtualDisplay>> displays_;  // in the system's online order
  DisplayID nextID_ = 1;
  std::vector<I2CTransfer> i2cLog_;
  std::vector<PanelWrite> panelLog_;
  std::vector<GammaWrite> gammaLog_;
  int displayReads_ = 0;

  std::unique_ptr<Connected> connected_;
  std::unique_ptr<Buses> buses_;
  std::unique_ptr<Panels> panels_;
  std::unique_ptr<Gamma> gamma_;
};
