// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimulatedMachineScope.hpp"

#include "display/DDCBrightness/DDCIO.hpp"
#include "services/DDCDebug.hpp"
#include "services/DiagnosticCapture.hpp"
#include "services/L10n.hpp"
#include "services/ShortcutHUD.hpp"

SimulatedMachineScope::SimulatedMachineScope(const SystemPorts& ports) {
  DDCIO::usePorts(
      {.mainLoop = ports.mainLoop,
       .displays = ports.displays,
       .i2c = ports.i2c,
       .backlights = ports.backlights,
       .desktopBrightness = ports.desktopBrightness});
  DDCIO::resetBusTiming();  // stamps from another test's clock mean nothing here
  DDCDebug::setEnabled(true);
  ShortcutHUD::usePorts(ports.hudPanel, ports.mainLoop);
  DiagnosticCapture::usePorts(ports.mainLoop, ports.notifications);
  L10n::useEnvironment(ports.environment);
}

SimulatedMachineScope::~SimulatedMachineScope() {
  DDCDebug::setEnabled(false);
  ShortcutHUD::usePorts(nullptr, nullptr);
  DiagnosticCapture::usePorts(nullptr, nullptr);
  L10n::useEnvironment(nullptr);
  DDCIO::usePorts({});  // cached information points into the machine that is about to go
}
