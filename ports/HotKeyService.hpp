// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "base/Signal.hpp"

// System-wide key combinations delivered to this application. Key codes are
// the virtual key codes of the hot-key table (GlobalHotKeyManager.hpp); a
// binding maps them onto its own keys.
class HotKeyService {
 public:
  // The identity a hot key is registered with and delivered back with.
  struct Identity {
    std::uint32_t signature = 0;
    std::uint32_t id = 0;
    friend bool operator==(const Identity&, const Identity&) = default;
  };
  // One press as the system delivers it; identity is absent when the event's
  // identity parameter cannot be read.
  struct Event {
    std::optional<Identity> identity;
  };
  // Called on the main thread for every press; returns the status reported back (0 = handled).
  using Handler = std::function<std::int32_t(const Event&)>;
  using HandlerRef = std::uint64_t;
  using HotKeyRef = std::uint64_t;

  struct InstallResult {
    std::int32_t status = 0;
    std::optional<HandlerRef> handler;
  };
  struct RegisterResult {
    std::int32_t status = 0;
    std::optional<HotKeyRef> hotKey;
  };

  // Modifier bits of a registration.
  static constexpr std::uint32_t controlKey = 0x1000;
  static constexpr std::uint32_t optionKey = 0x0800;
  static constexpr std::uint32_t shiftKey = 0x0200;

  virtual ~HotKeyService() = default;
  // Installs the one handler for hot-key presses; it stays installed for the life of the process.
  virtual InstallResult installEventHandler(Handler handler) = 0;
  // A combination another client holds is refused with a non-zero status.
  virtual RegisterResult registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers, Identity identity) = 0;
  virtual std::int32_t unregisterEventHotKey(HotKeyRef hotKey) = 0;

  // A registration the system accepted and later dropped (a desktop that
  // bound fewer shortcuts than it was asked for); its handle is void.
  Signal<HotKeyRef> registrationLost;
};
