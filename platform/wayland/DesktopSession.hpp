// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

class LinuxEnvironment;

// Which display server the program talks to, chosen once at start.
struct DesktopSession {
  enum class Kind { x11, wayland, none };
  Kind kind = Kind::none;
  // WAYLAND_DISPLAY (empty for the compositor's default socket) or DISPLAY.
  std::string display;
  // Why this one, for the log; for `none`, what is missing.
  std::string reason;
};

// A Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland) is
// driven through the compositor even when XWayland offers an X display:
// XWayland sees only the input of X11 clients and its gamma reaches no screen.
DesktopSession chooseDesktopSession(const LinuxEnvironment& environment);
