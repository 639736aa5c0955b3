// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/DDCBrightness/ControlStatusStore.hpp"

#include "base/ProcessWide.hpp"

ControlStatusStore& ControlStatusStore::shared() { return processWide<ControlStatusStore>(); }

void ControlStatusStore::set(std::string_view status, DisplayID displayID) {
  const auto& current = states.get();
  if (const auto it = current.find(displayID); it != current.end() && it->second == status) return;
  auto next = current;
  next[displayID] = std::string(status);
  states.set(std::move(next));
}

std::string ControlStatusStore::status(DisplayID displayID) const {
  const auto& current = states.get();
  const auto it = current.find(displayID);
  return it != current.end() ? it->second : std::string(ControlStatus::unchecked);
}

void ControlStatusStore::clear() { states.set({}); }
