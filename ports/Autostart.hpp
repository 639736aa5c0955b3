// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

// Whether this program starts when the user logs in.
class Autostart {
 public:
  struct Failure {
    enum class Kind {
      unusableProgramPath,  // no launcher could start the program from an entry
      cannotWrite,          // the entry could not be written
      cannotRemove,         // the entry could not be removed
    };
    Kind kind;
    std::string detail;  // the reason in the system's words (errno text), shown to the user
  };

  virtual ~Autostart() = default;
  // True only while an entry starts this program: one the desktop switched
  // off, or one naming a program that is gone, is off.
  virtual bool isEnabled() const = 0;
  // Writes (or rewrites) the entry.
  virtual std::optional<Failure> enable() = 0;
  // Removes the entry; an absent entry is not a failure.
  virtual std::optional<Failure> disable() = 0;
};
