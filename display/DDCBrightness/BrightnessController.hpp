// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <set>

#include "base/DisplayID.hpp"

// What the idle engine needs from display control. The engine owns one
// implementation and calls it on the main thread; no call throws.
class BrightnessController {
 public:
  virtual ~BrightnessController() = default;

  // Drives every target display to the logical level `brightnessPercent`
  // (0 = each display's minimum, 100 = its maximum), within its limits and
  // never below the safety floor. Maps are keyed by display; a display absent
  // from a map takes the default (maximum 100, minimum = safety minimum,
  // no full gamma).
  virtual void apply(double brightnessPercent, const std::set<DisplayID>& targetDisplayIDs,
                     const std::map<DisplayID, double>& displayMaximumPercents,
                     const std::map<DisplayID, double>& displayMinimumPercents,
                     const std::map<DisplayID, bool>& displayFullGammaModes, double safetyMinimumPercent) = 0;

  // Puts every listed display back at its maximum (full-gamma displays get
  // their original gamma back instead).
  virtual void restoreBrightness(const std::set<DisplayID>& displayIDs, const std::map<DisplayID, double>& maximums,
                                 const std::map<DisplayID, bool>& fullGamma, double safety) = 0;

  // Forgets everything known about the displays; call when the set of
  // connected displays changes.
  virtual void invalidateDisplayState() = 0;

  // Whether the user has gone idle (away) or is back. What a display shows
  // when the user goes away is their level; what other programs make of it
  // while they are away is not.
  virtual void setUserAway(bool away) = 0;
};
