// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/DDCDebug.hpp"

#include "base/ProcessWide.hpp"

DDCDebug::State& DDCDebug::state() { return processWide<State>(); }

void DDCDebug::emit(const std::string& line) {
  const State& s = state();
  if (s.enabled) AppLog::ddc.log(line);
  if (const auto capture = s.capture) (*capture)(line);
}

std::string DDCDebug::displayLine(DisplayID displayID, const std::string& text) {
  return "display " + std::to_string(displayID) + ": " + text;
}

void DDCDebug::setEnabled(bool enabled) { state().enabled = enabled; }
void DDCDebug::setCapture(Capture capture) {
  state().capture = capture ? std::make_shared<const Capture>(std::move(capture)) : nullptr;
}
