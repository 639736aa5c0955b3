// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

#include "ports/GammaTables.hpp"

// 16-bit ramps of one output, the form RandR, wlr-gamma-control and Mutter take.
struct GammaRamps {
  std::vector<std::uint16_t> red, green, blue;
  bool operator==(const GammaRamps&) const = default;
};

// 16-bit ramp entries and fractions, converted so that a value read and
// written back is unchanged.
float gammaFraction(std::uint16_t entry);
std::uint16_t gammaEntry(float fraction);
GammaTable gammaTable(const GammaRamps& ramps);
GammaRamps gammaRamps(const GammaTable& table);

// The linear ramp of `count` entries, from 0 to full scale: what a display
// shows when nothing has changed its table.
GammaRamps identityRamps(std::size_t count);

// Whether ramps darken the screen below half: no entry of any channel reaches
// half of full scale. No display's own ramps do; a dimmer's do, so such ramps
// are never taken for an output's original.
bool looksDimmed(const GammaRamps& ramps);
