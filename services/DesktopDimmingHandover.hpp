// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Signal.hpp"
#include "ports/DesktopIdleDimming.hpp"

class UserDefaults;

// Living beside the desktop's own idle dimming: while the desktop dims the
// screen too, the window says so and offers to turn the desktop's dimming
// off; Dimmora keeps a record of what it changed, so that reset and uninstall
// put it back. The record lives in the user defaults, not in the settings
// file: resetting the settings must not forget it before it has been used,
// and it is no setting of the user's. Main thread only.
class DesktopDimmingHandover {
 public:
  // The record: which desktop, and its settings as they were before Dimmora changed them.
  static constexpr const char* recordKey = "desktop.idleDimmingTurnedOff";

  // Without the desktop's port there is nothing to say or do; without user
  // defaults the record lasts until exit.
  DesktopDimmingHandover(DesktopIdleDimming* desktop, UserDefaults* defaults);
  DesktopDimmingHandover(const DesktopDimmingHandover&) = delete;
  DesktopDimmingHandover& operator=(const DesktopDimmingHandover&) = delete;

  Signal<> changed;  // the desktop's settings, the record or the error changed

  // "GNOME also dims the screen when idle", while it does.
  std::optional<std::string> noticeText() const;
  std::string turnOffLabel() const;
  // After Dimmora turned the desktop's dimming off, while it stays off: who
  // did it and how to turn it back on.
  std::optional<std::string> turnedOffText() const;
  // The last attempt's failure, until the next attempt.
  const std::optional<std::string>& error() const { return error_; }

  // The notice's action: turns the desktop's dimming off and records what it was.
  void turnOff();
  // Reset and uninstall: puts back what Dimmora turned off. Where the user
  // has turned the desktop's dimming on again (wholly or in part), that
  // stands and the record is dropped. The failure's text, with the record
  // kept for a later attempt.
  std::optional<std::string> putBack();

 private:
  struct Record {
    DesktopIdleDimming::Desktop desktop;
    std::vector<DesktopIdleDimming::Setting> previous;
  };
  std::optional<Record> record() const;
  void saveRecord(const std::optional<Record>& record);
  // The record applies to the desktop this session runs.
  bool recordIsHere(const std::optional<Record>& record) const;

  DesktopIdleDimming* desktop_;
  UserDefaults* defaults_;
  std::optional<std::string> unsavedRecord_;  // without user defaults
  std::optional<std::string> error_;
  Subscription desktopChanged_;
};
