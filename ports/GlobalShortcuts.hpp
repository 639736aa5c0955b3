// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "base/Signal.hpp"

// The program's three shortcut actions; a desktop that lets its user rebind
// shortcuts lists them under these.
enum class HotKeyID : std::uint32_t { increaseMax = 1, decreaseMax = 2, restore = 3 };

// Key combinations that reach this program wherever the focus is. A key is
// named as XKB names its keysym ("F2", "r", "bracketright"); the bindings
// translate to key grabs or to the desktop portal's trigger text.
class GlobalShortcuts {
 public:
  enum class Modifier : std::uint8_t { control, alt, shift };
  struct Combination {
    std::string keyName;
    std::vector<Modifier> modifiers;  // each once, in the order Control, Alt, Shift
    friend bool operator==(const Combination&, const Combination&) = default;
  };
  enum class Refusal : std::uint8_t {
    unknownKey,      // no key of the keyboard or the desktop carries that name
    taken,           // another program, or another registration of ours, holds the combination
    notBound,        // the desktop left the action out when it bound the shortcuts
    connectionLost,  // the display server is gone
  };
  using Handle = std::uint64_t;
  // A handle, or why there is none.
  using Registration = std::variant<Handle, Refusal>;
  // Called on the main thread, once per press (a held key's repeats are not presses).
  using PressHandler = std::function<void()>;

  virtual ~GlobalShortcuts() = default;
  virtual Registration registerShortcut(HotKeyID action, const Combination& combination, PressHandler onPress) = 0;
  // Releases the combination; its handler is never called again. An unknown handle is ignored.
  virtual void unregisterShortcut(Handle handle) = 0;

  // A registration the desktop accepted and later dropped (it bound fewer
  // shortcuts than it was asked for); its handle is void.
  Signal<Handle> registrationLost;
};

