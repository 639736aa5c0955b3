// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/GlobalShortcuts.hpp"

struct HotKeyTableRow {
  std::string_view key;      // as the settings file stores it ("f2", "u", "=")
  std::string_view keyName;  // the XKB keysym name ("F2", "u", "equal")
};
// The supported keys, in the order of the settings file's values.
const std::array<HotKeyTableRow, 49>& hotKeyTable();
// The modifiers a key is pressed with: Control+Alt, plus Shift for the function
// keys (the standard keymap turns Control+Alt+F1... into console switches, which
// the server consumes). The brightness keys and names outside the table get Control+Alt.
std::vector<GlobalShortcuts::Modifier> hotKeyModifiers(std::string_view key);
// The combination a stored key is registered as (any case); nullopt outside the table.
std::optional<GlobalShortcuts::Combination> hotKeyCombination(std::string_view key);
// The modifiers as shown before the key's name: "Ctrl+Alt+" or "Ctrl+Alt+Shift+".
std::string hotKeyModifierLabel(std::string_view key);
// Why a registration was refused, as the log says it.
std::string_view refusalText(GlobalShortcuts::Refusal refusal);

// Registers the hot keys of the brightness shortcuts and the restore key with
// the modifiers the table gives each key, and reports each press through onHotKey.
class GlobalHotKeyManager {
 public:
  // Without the desktop's shortcuts nothing registers, and the binding, not
  // the manager, has said why.
  explicit GlobalHotKeyManager(GlobalShortcuts* service);
  ~GlobalHotKeyManager();
  GlobalHotKeyManager(const GlobalHotKeyManager&) = delete;
  GlobalHotKeyManager& operator=(const GlobalHotKeyManager&) = delete;

  // Replaces every registration: restore on "r" always, then the two shortcut
  // keys unless they name the keyboard's brightness keys. A refusal is logged.
  void update(const std::string& increaseKey, const std::string& decreaseKey);

  const std::map<HotKeyID, GlobalShortcuts::Handle>& registrations() const { return handles_; }

  // Called once per press, on the main thread.
  std::function<void(HotKeyID)> onHotKey;
  // Called when the system dropped a registration after accepting it.
  std::function<void()> onRegistrationLost;

 private:
  void registerKey(const std::string& key, HotKeyID id);
  void unregisterAll();

  GlobalShortcuts* const service_;
  std::map<HotKeyID, GlobalShortcuts::Handle> handles_;
  Subscription lost_;
};
