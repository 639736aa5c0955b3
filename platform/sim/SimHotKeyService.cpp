// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimHotKeyService.hpp"

HotKeyService::InstallResult SimHotKeyService::installEventHandler(Handler handler) {
  ++installCalls_;
  if (installStatus != 0) return {installStatus, std::nullopt};
  handlers_.push_back(std::move(handler));
  return {0, static_cast<HandlerRef>(handlers_.size())};
}

HotKeyService::RegisterResult SimHotKeyService::registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                                    Identity identity) {
  ++registerCalls_;
  if (takenByOthers.count({keyCode, modifiers})) return {hotKeyExists, std::nullopt};
  for (const auto& [ref, registration] : registrations_) {
    if (registration.keyCode == keyCode && registration.modifiers == modifiers) return {hotKeyExists, std::nullopt};
  }
  const HotKeyRef ref = nextRef_++;
  registrations_[ref] = {keyCode, modifiers, identity};
  return {0, ref};
}

std::int32_t SimHotKeyService::unregisterEventHotKey(HotKeyRef hotKey) {
  return registrations_.erase(hotKey) ? 0 : invalidHotKey;
}

bool SimHotKeyService::press(std::uint32_t keyCode, std::uint32_t modifiers) {
  for (const auto& [ref, registration] : registrations_) {
    if (registration.keyCode == keyCode && registration.modifiers == modifiers) {
      deliver(Event{registration.identity});
      return true;
    }
  }
  return false;
}

std::vector<std::int32_t> SimHotKeyService::deliver(const Event& event) {
  std::vector<std::int32_t> statuses;
  // A snapshot: a handler may install another while being called.
  const auto handlers = handlers_;
  for (const auto& handler : handlers) statuses.push_back(handler(event));
  return statuses;
}
