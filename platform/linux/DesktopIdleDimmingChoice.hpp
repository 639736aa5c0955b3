// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "ports/DesktopIdleDimming.hpp"

class LinuxEnvironment;
typedef struct sd_bus sd_bus;

// The idle dimming of the desktop this session runs, by XDG_CURRENT_DESKTOP
// ("ubuntu:GNOME", "KDE"): GNOME's settings or PowerDevil's file in the
// configuration home. Null on any other desktop, and on GNOME without its
// power plugin's schema.
std::unique_ptr<DesktopIdleDimming> desktopIdleDimming(const LinuxEnvironment& environment, sd_bus* sessionBus);
