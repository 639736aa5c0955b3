// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>

#include "platform/x11/X11Input.hpp"
#include "ports/GlobalShortcuts.hpp"

// Global shortcuts as X key grabs on the root window: the key name becomes
// a keysym (XStringToKeysym), the modifier names X modifier masks; the grab
// itself (keycode, Num Lock and Caps Lock variants) is X11HotKeys'.
class X11GlobalShortcuts final : public GlobalShortcuts {
 public:
  explicit X11GlobalShortcuts(X11HotKeys& keys);

  Registration registerShortcut(HotKeyID action, const Combination& combination, PressHandler onPress) override;
  void unregisterShortcut(Handle handle) override;

  static unsigned int modifierMask(const std::vector<Modifier>& modifiers);

 private:
  X11HotKeys& keys_;
  std::map<Handle, PressHandler> handlers_;
  Handle nextHandle_ = 1;
  Subscription pressed_;
};
