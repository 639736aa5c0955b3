// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimInputMonitors.hpp"

#include "platform/sim/SimIdleTime.hpp"

Subscription SimInputMonitors::addGlobalMonitor(GlobalHandler handler) {
  if (!available) return {};
  return global_.connect(std::move(handler));
}

Subscription SimInputMonitors::addLocalMonitor(LocalHandler handler) {
  if (!available) return {};
  return local_.connect([handler = std::move(handler)](const InputEvent& event, const LocalResult& result) {
    if (!*result.swallowed && handler(event)) *result.swallowed = true;
  });
}

void SimInputMonitors::sendGlobal(const InputEvent& event) {
  if (idleTime_) idleTime_->registerInput();
  global_.emit(event);
}

bool SimInputMonitors::sendLocal(const InputEvent& event) {
  if (idleTime_) idleTime_->registerInput();
  bool swallowed = false;
  local_.emit(event, LocalResult{&swallowed});
  return swallowed;
}
