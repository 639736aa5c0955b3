// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/X11GlobalShortcuts.hpp"

#include <X11/X.h>

// Last: Xlib defines macros (Status, ...) that clash with names above.
#include <X11/Xlib.h>

X11GlobalShortcuts::X11GlobalShortcuts(X11HotKeys& keys) : keys_(keys) {
  pressed_ = keys_.pressed.connect([this](const int& id) {
    const auto it = handlers_.find(static_cast<Handle>(id));
    if (it == handlers_.end()) return;
    // A copy: the handler may replace every registration, this one included.
    const PressHandler onPress = it->second;
    onPress();
  });
}

unsigned int X11GlobalShortcuts::modifierMask(const std::vector<Modifier>& modifiers) {
  unsigned int mask = 0;
  for (const Modifier modifier : modifiers) {
    switch (modifier) {
      case Modifier::control: mask |= ControlMask; break;
      case Modifier::alt: mask |= Mod1Mask; break;
      case Modifier::shift: mask |= ShiftMask; break;
    }
  }
  return mask;
}

GlobalShortcuts::Registration X11GlobalShortcuts::registerShortcut(HotKeyID, const Combination& combination,
                                                                   PressHandler onPress) {
  const KeySym symbol = XStringToKeysym(combination.keyName.c_str());
  if (symbol == NoSymbol) return Refusal::unknownKey;
  const Handle handle = nextHandle_++;
  switch (keys_.grab(static_cast<int>(handle), symbol, modifierMask(combination.modifiers))) {
    case Success: break;
    case BadValue: return Refusal::unknownKey;  // no key of this keymap carries the symbol
    case BadImplementation: return Refusal::connectionLost;
    default: return Refusal::taken;  // BadAccess: another client holds it
  }
  handlers_[handle] = std::move(onPress);
  return handle;
}

void X11GlobalShortcuts::unregisterShortcut(Handle handle) {
  if (handlers_.erase(handle)) keys_.ungrab(static_cast<int>(handle));
}
