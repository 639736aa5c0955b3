// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>

// The global floor no display is driven below.
namespace BrightnessSafety {

// The values the interface offers: 1, then 5 to 50 in steps of 5.
inline constexpr std::array<double, 11> minimumOptions{1, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50};
// The floor of a new installation, and of a stored value that is not a number.
inline constexpr double defaultMinimum = 5;

// Snaps a safety minimum onto minimumOptions: below 3 gives 1, a non-finite
// value 5, otherwise the nearest multiple of 5 (halves away from zero) kept
// within 5 to 50.
double normalizedSafetyMinimum(double value);

}  // namespace BrightnessSafety
