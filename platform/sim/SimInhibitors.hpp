// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ports/Inhibitors.hpp"

// Inhibitors a test takes and lets go of by hand; counts how often they were asked for.
class SimInhibitors final : public Inhibitors {
 public:
  std::optional<std::vector<Holder>> holders = std::vector<Holder>{};
  int queries = 0;

  // Replaces what is held (nullopt: no source answers) and says so, as a binding does.
  void set(std::optional<std::vector<Holder>> now) {
    holders = std::move(now);
    changed.emit();
  }
  std::optional<std::vector<Holder>> held() override {
    ++queries;
    return holders;
  }
};
