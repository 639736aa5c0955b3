// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ports/HotKeyService.hpp"

enum class HotKeyID : std::uint32_t { increaseMax = 1, decreaseMax = 2, restore = 3 };

// 1, 2 and 3 name a hot key; anything else none.
std::optional<HotKeyID> hotKeyIDFromRawValue(std::uint32_t rawValue);

struct HotKeyTableRow {
  std::string_view key;
  std::uint32_t keyCode;    // virtual key code of the US ANSI layout
  std::uint32_t modifiers;  // HotKeyService modifier bits the key is registered with
};
// The supported key names, in table order; bindings map the codes onto their own keys.
const std::array<HotKeyTableRow, 49>& hotKeyTable();
// Case-insensitive look-up in the table.
std::optional<std::uint32_t> hotKeyCode(std::string_view key);
// The modifiers a key is pressed with: Control+Alt, plus Shift for the function
// keys (the standard keymap turns Control+Alt+F1... into console switches, which
// the server consumes). The brightness keys and names outside the table get Control+Alt.
std::uint32_t hotKeyModifiers(std::string_view key);
// The modifiers as shown before the key's name: "Ctrl+Alt+" or "Ctrl+Alt+Shift+".
std::string hotKeyModifierLabel(std::string_view key);

// Registers the hot keys of the brightness shortcuts and the restore key with
// the modifiers the table gives each key, and reports each press through onHotKey.
class GlobalHotKeyManager {
 public:
  static constexpr std::uint32_t signature = 0x534F4C44;
  GlobalHotKeyManager();
  ~GlobalHotKeyManager();
  GlobalHotKeyManager(const GlobalHotKeyManager&) = delete;
  GlobalHotKeyManager& operator=(const GlobalHotKeyManager&) = delete;

  // Once; a second call does nothing. Failure is logged and not retried.
  void installEventHandler();
  // Replaces every registration: restore on "r" always, then the two shortcut
  // keys unless they name the keyboard's brightness keys.
  void update(const std::string& increaseKey, const std::string& decreaseKey);

  const std::optional<HotKeyService::HandlerRef>& eventHandler() const { return eventHandler_; }
  const std::map<HotKeyID, HotKeyService::HotKeyRef>& hotKeyRefs() const { return hotKeyRefs_; }

  // Called once per press, on the main thread.
  std::function<void(HotKeyID)> onHotKey;
  // Called when the system dropped a registration after accepting it.
  std::function<void()> onRegistrationLost;

 private:
  void registerKey(const std::string& key, HotKeyID id);
  void unregisterAll();
  void handleHotKeyEvent(const HotKeyService::Event& event);

  HotKeyService* service_;
  std::optional<HotKeyService::HandlerRef> eventHandler_;
  std::map<HotKeyID, HotKeyService::HotKeyRef> hotKeyRefs_;
  // The installed handler outlives the manager; it checks this token first.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  Subscription lost_;
};
