// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wayland/DesktopSession.hpp"

#include "platform/linux/LinuxEnvironment.hpp"

DesktopSession chooseDesktopSession(const LinuxEnvironment& environment) {
  const auto wayland = environment.variable("WAYLAND_DISPLAY");
  const auto type = environment.variable("XDG_SESSION_TYPE");
  const auto x11 = environment.variable("DISPLAY");
  if (wayland) return {DesktopSession::Kind::wayland, *wayland, "WAYLAND_DISPLAY is set (" + *wayland + ")"};
  if (type == "wayland")
    return {DesktopSession::Kind::wayland, {}, "XDG_SESSION_TYPE is wayland (WAYLAND_DISPLAY is not set: the default socket)"};
  if (x11)
    return {DesktopSession::Kind::x11, *x11,
            "DISPLAY is set (" + *x11 + ")" + (type ? " and XDG_SESSION_TYPE is " + *type : std::string()) +
                ", and there is no Wayland display"};
  return {DesktopSession::Kind::none, {}, "no X11 display (DISPLAY is not set) and no Wayland display (WAYLAND_DISPLAY is not set)"};
}
