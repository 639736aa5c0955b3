// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimIdleTime.hpp"

#include "base/MainLoop.hpp"

SimIdleTime::SimIdleTime(const MainLoop& loop) : loop_(loop), lastInputAt_(loop.uptime()) {}

std::optional<double> SimIdleTime::secondsSinceLastEvent(InputEventType type) const {
  ++queries_;
  if (failing) return std::nullopt;
  if (const auto it = overrides_.find(type); it != overrides_.end()) return it->second;
  return loop_.uptime() - lastInputAt_;
}

void SimIdleTime::registerInput() { lastInputAt_ = loop_.uptime(); }

void SimIdleTime::setIdleSeconds(double seconds) { lastInputAt_ = loop_.uptime() - seconds; }

void SimIdleTime::overrideType(InputEventType type, std::optional<double> answer) { overrides_[type] = answer; }
