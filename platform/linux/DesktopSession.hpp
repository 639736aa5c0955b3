// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class LinuxEnvironment;

// Which display server the program talks to, chosen once at start.
struct DesktopSession {
  enum class Kind { x11, wayland, none };
  Kind kind = Kind::none;
  // WAYLAND_DISPLAY or DISPLAY; empty for a Wayland session found only by its sockets.
  std::string display;
  // The compositor sockets in the runtime folder, in the order they are tried:
  // for a Wayland session without WAYLAND_DISPLAY, and for an X display that
  // turns out to be XWayland's.
  std::vector<std::filesystem::path> waylandSockets;
  // XDG_SESSION_TYPE says wayland, so an X display can only be XWayland's.
  bool waylandSessionType = false;
  // Why this one, for the log; for `none`, what is missing.
  std::string reason;
};

// A Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland) is
// driven through the compositor even when XWayland offers an X display:
// XWayland sees only the input of X11 clients and its gamma reaches no screen.
DesktopSession chooseDesktopSession(const LinuxEnvironment& environment);

// The compositor sockets ("wayland-1", ...) in `folder`, lowest number first;
// the lock files beside them and anything that is not a socket are left out.
std::vector<std::filesystem::path> waylandSocketsIn(const std::filesystem::path& folder);
