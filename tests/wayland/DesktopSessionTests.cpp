// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "WaylandTestSupport.hpp"
#include "platform/linux/DesktopSession.hpp"
#include "platform/linux/LinuxEnvironment.hpp"

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
}

TEST(DesktopSession, WithoutWaylandDisplayTheRuntimeFoldersSocketsAreTheCandidates) {
  TempTree tree;
  const auto run = tree.folder("run");
  makeSocketFile(run / "wayland-10");
  makeSocketFile(run / "wayland-1");
  makeSocketFile(run / "wayland-nested");
  tree.write("run/wayland-1.lock", "");
  tree.write("run/wayland-2", "not a socket");
  const std::vector<std::filesystem::path> expected{run / "wayland-1", run / "wayland-10", run / "wayland-nested"};
  EXPECT_EQ(waylandSocketsIn(run), expected);
  EXPECT_TRUE(waylandSocketsIn(tree.path("missing")).empty());

  // The session type says wayland: its sockets, tried in that order.
  auto s = choose({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}, {"XDG_RUNTIME_DIR", run.string()}});
  EXPECT_EQ(s.kind, DesktopSession::Kind::wayland);
  EXPECT_EQ(s.display, "");
  EXPECT_EQ(s.waylandSockets, expected);
  EXPECT_NE(s.reason.find("XDG_SESSION_TYPE is wayland and WAYLAND_DISPLAY is not set"), std::string::npos);

  // Only DISPLAY: X11 first, with the sockets kept for when the display turns out to be XWayland's.
  s = choose({{"DISPLAY", ":1"}, {"XDG_RUNTIME_DIR", run.string()}});
  EXPECT_EQ(s.kind, DesktopSession::Kind::x11);
  EXPECT_EQ(s.display, ":1");
  EXPECT_FALSE(s.waylandSessionType);
  EXPECT_EQ(s.waylandSockets, expected);

  // The session type says wayland but there is no socket: XWayland's display, or nothing, with what is missing.
  s = choose({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}, {"XDG_RUNTIME_DIR", tree.folder("empty").string()}});
  EXPECT_EQ(s.kind, DesktopSession::Kind::x11);
  EXPECT_TRUE(s.waylandSessionType);
  s = choose({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_RUNTIME_DIR", tree.path("empty").string()}});
  EXPECT_EQ(s.kind, DesktopSession::Kind::none);
  EXPECT_EQ(s.reason, "XDG_SESSION_TYPE is wayland, but WAYLAND_DISPLAY is not set and " +
                          tree.path("empty").string() + " holds no compositor socket (wayland-*)");
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
