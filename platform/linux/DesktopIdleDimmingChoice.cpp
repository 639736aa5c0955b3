// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/DesktopIdleDimmingChoice.hpp"

#include <sstream>
#include <string>

#include "platform/linux/GnomeIdleDimming.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
#include "platform/linux/PlasmaIdleDimming.hpp"

std::unique_ptr<DesktopIdleDimming> desktopIdleDimming(const LinuxEnvironment& environment, sd_bus* sessionBus) {
  std::istringstream desktops(environment.variable("XDG_CURRENT_DESKTOP").value_or(""));
  for (std::string name; std::getline(desktops, name, ':');) {
    if (name == "GNOME") return GnomeIdleDimming::open();
    if (name == "KDE") {
      const auto configHome = environment.applicationSupportDirectory();
      if (!configHome) return nullptr;
      const auto version = PlasmaIdleDimming::versionFor(*configHome, environment.variable("KDE_SESSION_VERSION"));
      return std::make_unique<PlasmaIdleDimming>(*configHome, version, sessionBus);
    }
  }
  return nullptr;
}
