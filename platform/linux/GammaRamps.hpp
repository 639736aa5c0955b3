// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

// 16-bit ramps of one output, the form both RandR and wlr-gamma-control take.
struct GammaRamps {
  std::vector<std::uint16_t> red, green, blue;
  bool operator==(const GammaRamps&) const = default;
};

// 16-bit ramp entries and fractions, converted so that a value read and
// written back is unchanged.
float gammaFraction(std::uint16_t entry);
std::uint16_t gammaEntry(float fraction);
