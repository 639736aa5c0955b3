// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ports/PowerAssertions.hpp"

// Assertions a test sets by hand; counts how often each query ran.
class SimPowerAssertions final : public PowerAssertions {
 public:
  Summary summary{0, PropertyDictionary{}};
  ByProcess byProcess{0, PropertyDictionary{}};
  int statusQueries = 0;
  int processQueries = 0;

  // Holds (count > 0) or releases (count 0) one assertion type.
  void setCount(const std::string& type, double count) { (*summary.assertionsByType)[type] = count; }

  Summary copyAssertionsStatus() override {
    ++statusQueries;
    return summary;
  }
  ByProcess copyAssertionsByProcess() override {
    ++processQueries;
    return byProcess;
  }
};
