// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

#include "ports/PropertyValue.hpp"

// The system's power assertions (things that keep the machine or its display
// awake). Both queries can fail with a non-zero result code.
class PowerAssertions {
 public:
  struct Summary {
    std::int32_t result = 0;
    // Assertion type name -> how many are held ("PreventUserIdleDisplaySleep" -> 1).
    // Counts are numbers or flags; absent when the system gave no dictionary.
    std::optional<PropertyDictionary> assertionsByType;
  };
  struct ByProcess {
    std::int32_t result = 0;
    // Owning process (for example "1234 player") -> a dictionary describing its
    // assertions; type names appear in the values as the summary spells them.
    std::optional<PropertyDictionary> assertionsByProcess;
  };

  virtual ~PowerAssertions() = default;
  virtual Summary copyAssertionsStatus() = 0;
  virtual ByProcess copyAssertionsByProcess() = 0;
};
