// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/Signal.hpp"

// The desktop's own dimming of the screen when the user is idle: GNOME's
// power plugin (its GSettings) or Plasma's PowerDevil (its configuration
// file). Both dim the built-in panel by themselves, out of the box.
class DesktopIdleDimming {
 public:
  enum class Desktop { gnome, plasma };

  // One setting as the desktop keeps it: a GSettings schema and key, or a
  // configuration file's group ("AC][Display") and key. `value` is the text
  // the desktop stores ("true", "300000"); nullopt when the setting is absent
  // (its default applies).
  struct Setting {
    std::string group;
    std::string key;
    std::optional<std::string> value;
    friend bool operator==(const Setting&, const Setting&) = default;
  };

  virtual ~DesktopIdleDimming() = default;
  virtual Desktop desktop() const = 0;
  // Whether the desktop dims the screen when idle, as its settings stand now.
  virtual bool isOn() const = 0;
  // Turns the desktop's idle dimming off everywhere it is on, then asks the
  // desktop to take the change. On success, the settings as they were before
  // (to hand to restore()); otherwise the reason in the system's words, and
  // nothing was changed.
  virtual std::variant<std::vector<Setting>, std::string> turnOff() = 0;
  // Puts the given settings back as they were and asks the desktop to take
  // them; the reason in the system's words when it could not.
  virtual std::optional<std::string> restore(const std::vector<Setting>& previous) = 0;

  // On the main loop, whenever the settings may have changed (here or
  // elsewhere); ask isOn() again.
  Signal<> changed;
};
