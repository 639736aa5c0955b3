// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>
#include <vector>

#include "base/Published.hpp"
#include "base/Signal.hpp"
#include "display/DisplayTarget.hpp"

class SystemNotifications;

// The online displays, named and sorted for the interface. Refreshes when
// created and on every screen-parameters change.
class DisplayStore {
 public:
  // Without notifications it refreshes only when asked to.
  explicit DisplayStore(SystemNotifications* notifications);
  DisplayStore(const DisplayStore&) = delete;
  DisplayStore& operator=(const DisplayStore&) = delete;

  // Looks every display up afresh and publishes the list (always notifies).
  void refresh();
  void handleScreenChange() { refresh(); }

  Published<std::vector<DisplayTarget>> displays;

 private:
  Subscription screenChanges_;
};

// Case-insensitive ordering of display names, the same in every locale, used
// for the list's stable sort.
bool displayNameLess(std::string_view a, std::string_view b);
