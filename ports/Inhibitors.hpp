// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Signal.hpp"

// Inhibitors that hold the screen or the machine awake: a video player's
// idle inhibitor, a backup's sleep inhibitor.
class Inhibitors {
 public:
  enum class What { idle, sleep };
  struct Holder {
    std::string who;  // "4321 mpv"; where the holder cannot be named, the source ("compositor")
    What what = What::idle;
    std::string why;
    friend bool operator==(const Holder&, const Holder&) = default;
  };

  virtual ~Inhibitors() = default;
  // The inhibitors held now; nullopt when no source answers.
  virtual std::optional<std::vector<Holder>> held() = 0;

  // On the main loop, whenever the held inhibitors may have changed; ask held() again.
  Signal<> changed;
};
