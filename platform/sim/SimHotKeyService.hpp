// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "ports/HotKeyService.hpp"

// A hot-key service that records registrations and delivers presses of the
// combinations registered with it. A combination is held once: registering it
// again, or one listed in takenByOthers, is refused like a real window server.
class SimHotKeyService final : public HotKeyService {
 public:
  static constexpr std::int32_t hotKeyExists = -9878;
  static constexpr std::int32_t invalidHotKey = -9879;

  struct Registration {
    std::uint32_t keyCode;
    std::uint32_t modifiers;
    Identity identity;
  };

  std::int32_t installStatus = 0;  // non-zero: installing the handler fails with it
  std::set<std::pair<std::uint32_t, std::uint32_t>> takenByOthers;  // (key code, modifiers)

  InstallResult installEventHandler(Handler handler) override;
  RegisterResult registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers, Identity identity) override;
  std::int32_t unregisterEventHotKey(HotKeyRef hotKey) override;

  // Presses a combination: delivers its identity to every handler when it is
  // registered here; false when nothing is registered for it.
  bool press(std::uint32_t keyCode, std::uint32_t modifiers);
  // Delivers a raw event (a foreign identity, or none); returns the handlers' statuses.
  std::vector<std::int32_t> deliver(const Event& event);

  const std::map<HotKeyRef, Registration>& registrations() const { return registrations_; }
  int installCalls() const { return installCalls_; }
  int registerCalls() const { return registerCalls_; }

 private:
  std::vector<Handler> handlers_;
  std::map<HotKeyRef, Registration> registrations_;
  HotKeyRef nextRef_ = 1;
  int installCalls_ = 0;
  int registerCalls_ = 0;
};
