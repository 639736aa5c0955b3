// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimInputMonitors.hpp"

#include "platform/sim/SimIdleTime.hpp"

namespace {
bool maskHas(InputEventMask mask, InputEventType type) { return (mask & eventMaskBit(type)) != 0; }
}  // namespace

Subscription SimInputMonitors::addGlobalMonitor(InputEventMask mask, GlobalHandler handler) {
  if (!available) return {};
  return global_.connect([mask, handler = std::move(handler)](const InputEvent& event) {
    if (maskHas(mask, event.type)) handler(event);
  });
}

Subscription SimInputMonitors::addLocalMonitor(InputEventMask mask, LocalHandler handler) {
  if (!available) return {};
  return local_.connect([mask, handler = std::move(handler)](const InputEvent& event, const LocalResult& result) {
    if (!*result.swallowed && maskHas(mask, event.type) && handler(event)) *result.swallowed = true;
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

InputEvent SimInputMonitors::mediaKey(int keyCode, bool controlAndOption, bool keyDown) {
  constexpr std::uint64_t kControlAndOption = 0x40000 | 0x80000;
  const std::int64_t state = keyDown ? 0x0A : 0x0B;
  return {InputEventType::systemDefined, 8, controlAndOption ? kControlAndOption : 0,
          (std::int64_t{keyCode} << 16) | (state << 8)};
}
