// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimulatedMachineScope.hpp"

#include "display/DDCBrightness/DDCIO.hpp"
#include "services/DDCDebug.hpp"

SimulatedMachineScope::SimulatedMachineScope(const SystemPorts& ports) : ports_(ports) {
  DDCIO::clearCaches();
  DDCIO::resetBusTiming();  // stamps from another test's clock mean nothing here
  DDCDebug::setEnabled(true);
}

SimulatedMachineScope::~SimulatedMachineScope() {
  DDCDebug::setEnabled(false);
  DDCIO::clearCaches();  // cached services point into the machine that is about to go
}
