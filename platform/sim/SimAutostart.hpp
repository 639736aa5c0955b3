// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "ports/Autostart.hpp"

// An autostart entry held in memory; a set failure text refuses both changes.
class SimAutostart final : public Autostart {
 public:
  bool enabled = false;
  std::optional<std::string> refuseWith;

  bool isEnabled() const override { return enabled; }
  std::optional<Failure> enable() override { return change(true, Failure::Kind::cannotWrite); }
  std::optional<Failure> disable() override { return change(false, Failure::Kind::cannotRemove); }

 private:
  std::optional<Failure> change(bool on, Failure::Kind refusal) {
    if (refuseWith) return Failure{refusal, *refuseWith};
    enabled = on;
    return std::nullopt;
  }
};
