// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "app/AppModels.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "ports/SystemNotifications.hpp"
#include "platform/sim/SimulatedMachine.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/VirtualMainLoop.hpp"

// One write through the display's channel, run until its outcome comes back
// (at once on the loop's clock unless the monitor stretches its transfers);
// true when the display took it.
inline bool writeAnswered(VirtualMainLoop& loop, DisplayID displayID, std::uint32_t value,
                          std::uint32_t steps = DDCIO::kPercentSteps) {
  std::optional<DDCIO::WriteFailure> outcome;
  const auto work = DDCIO::setBrightness(displayID, value, steps, [&](DDCIO::WriteFailure f) { outcome = f; });
  loop.advance(DDCTransport::kFirstMessageWaitSeconds);
  if (!outcome) loop.advance(DDCTransport::kMessageIntervalSeconds);  // a second attempt on the bus
  EXPECT_TRUE(outcome) << "the write was not answered";
  return outcome == DDCIO::WriteFailure::none;
}

// A simulated machine on a virtual loop with termination notifications, and
// empty control statuses before and after each case.
class ControlTest : public ::testing::Test {
 protected:
  ControlTest() { ControlStatusStore::shared().clear(); }
  ~ControlTest() override { ControlStatusStore::shared().clear(); }

  static SystemPorts portsFor(SimulatedMachine& machine, VirtualMainLoop& loop, SystemNotifications& notifications) {
    SystemPorts ports = machine.ports();
    ports.mainLoop = &loop;
    ports.notifications = &notifications;
    return ports;
  }
  static std::string status(DisplayID displayID) { return ControlStatusStore::shared().status(displayID); }
  DDCBrightnessController::Ports controllerPorts() {
    return AppModels::controllerPorts(portsFor(machine, loop, notifications));
  }

  VirtualMainLoop loop;
  SimulatedMachine machine{loop};
  SystemNotifications notifications;
  SimulatedMachineScope scope{portsFor(machine, loop, notifications)};
};

// The limits the engine hands the controller with a level, the same for every display.
struct Limits {
  double maximum = 100;
  double minimum = 5;
  double safety = 5;
  bool fullGamma = false;
};

// A brightness controller driven as the engine drives it, each display with
// the fixture's limits unless a call names its own.
class DrivenControllerTest : public ControlTest {
 protected:
  void drive(double logical, const std::set<DisplayID>& ids) { drive(logical, ids, limits); }
  void drive(double logical, const std::set<DisplayID>& ids, const Limits& given) {
    std::map<DisplayID, double> maximums, minimums;
    std::map<DisplayID, bool> fullGamma;
    for (DisplayID id : ids) {
      maximums[id] = given.maximum;
      minimums[id] = given.minimum;
      fullGamma[id] = given.fullGamma;
    }
    controller.apply(logical, ids, maximums, minimums, fullGamma, given.safety);
    // The writes' outcomes; a bus's first message waits a moment.
    const bool firstOnABus = std::any_of(ids.begin(), ids.end(), [&](DisplayID id) {
      return machine.hasDisplay(id) && machine.display(id).i2cBus && machine.i2cLog(id).empty();
    });
    loop.advance(firstOnABus ? DDCTransport::kFirstMessageWaitSeconds : 0);
  }
  // Past the launch phase, so full brightness is written at once.
  void endStartup() { controller.invalidateDisplayState(); }

  Limits limits;
  DDCBrightnessController controller{controllerPorts()};
};
