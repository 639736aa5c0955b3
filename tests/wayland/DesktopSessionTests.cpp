// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/linux/LinuxEnvironment.hpp"
#include "platform/wayland/DesktopSession.hpp"

namespace {
DesktopSession choose(std::map<std::string, std::string> variables) {
  return chooseDesktopSession(LinuxEnvironment({std::move(variables), {}, {}, {}, {}}));
}
}  // namespace

TEST(DesktopSession, AWaylandSessionWinsOverItsXWaylandDisplay) {
  auto s = choose({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}});
  EXPECT_EQ(s.kind, DesktopSession::Kind::wayland);
  EXPECT_EQ(s.display, "wayland-0");
  EXPECT_NE(s.reason.find("WAYLAND_DISPLAY"), std::string::npos);

  // The session type alone is enough: the compositor's default socket.
  s = choose({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}});
  EXPECT_EQ(s.kind, DesktopSession::Kind::wayland);
  EXPECT_EQ(s.display, "");
  EXPECT_NE(s.reason.find("XDG_SESSION_TYPE"), std::string::npos);
}

TEST(DesktopSession, AnX11SessionKeepsX11AndEmptyValuesCountAsUnset) {
  auto s = choose({{"DISPLAY", ":1"}, {"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", ""}});
  EXPECT_EQ(s.kind, DesktopSession::Kind::x11);
  EXPECT_EQ(s.display, ":1");
  EXPECT_NE(s.reason.find("DISPLAY is set (:1)"), std::string::npos);

  s = choose({{"XDG_SESSION_TYPE", "tty"}, {"DISPLAY", ""}});
  EXPECT_EQ(s.kind, DesktopSession::Kind::none);
  EXPECT_NE(s.reason.find("no X11 display"), std::string::npos);
  EXPECT_NE(s.reason.find("no Wayland display"), std::string::npos);
}
