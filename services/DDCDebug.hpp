// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/DisplayID.hpp"
#include "services/AppLog.hpp"

// The display-control trace: silent unless the "ddc" log switch is on or a
// diagnostic capture is listening. Messages are built only when someone listens.
namespace DDCDebug {
using Capture = std::function<void(const std::string&)>;
struct State {
  bool enabled = false;
  // Shared so a line being delivered keeps its receiver alive even when the
  // receiver clears the capture (a capture that stops at its size limit).
  std::shared_ptr<const Capture> capture;
};
State& state();

inline bool isListening() {
  const State& s = state();
  return s.enabled || static_cast<bool>(s.capture);
}

void emit(const std::string& line);

template <typename MakeMessage>
void log(MakeMessage&& message) {
  if (!isListening()) return;
  emit(std::forward<MakeMessage>(message)());
}

// "display <id>: <text>", the shape every per-display trace line has.
std::string displayLine(DisplayID displayID, const std::string& text);

void setEnabled(bool enabled);
// An empty function clears the capture.
void setCapture(Capture capture);
}  // namespace DDCDebug
