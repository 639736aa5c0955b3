// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/sim/SimEnvironment.hpp"
#include "platform/sim/SimGlobalShortcuts.hpp"
#include "platform/sim/SimHUDPanel.hpp"
#include "platform/sim/SimIdleTime.hpp"
#include "platform/sim/SimInhibitors.hpp"
#include "platform/sim/SimInputMonitors.hpp"
#include "platform/sim/SimulatedMachine.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "ports/SystemNotifications.hpp"
#include "ports/SystemPorts.hpp"

// A user's session on the simulated machine: a virtual loop, a scriptable
// idle clock and input monitors, global shortcuts, inhibitors and a heads-up
// panel. ports() hands all of them out; a fixture adds what else it needs.
struct SimulatedSession {
  SystemPorts ports() {
    SystemPorts ports = machine.ports();
    ports.mainLoop = &loop;
    ports.environment = &environment;
    ports.idleTime = &idle;
    ports.inputMonitors = &input;
    ports.notifications = &notifications;
    ports.shortcuts = &shortcuts;
    ports.inhibitors = &inhibitors;
    ports.hudPanel = &hudPanel;
    return ports;
  }

  VirtualMainLoop loop;
  SimulatedMachine machine{loop};
  SimIdleTime idle{loop};
  SimInputMonitors input{&idle};
  SystemNotifications notifications;
  SimEnvironment environment;
  SimGlobalShortcuts shortcuts;
  SimInhibitors inhibitors;
  SimHUDPanel hudPanel;
};
