// SPDX-License-Identifier: GPL-3.0-or-later
// A monitor's settings key in a Wayland session, from the outputs our own
// compositor announces joined with a fake /sys: the key an X11 session gives
// the same monitor, and one that stays when its identical twin goes.
#include <gtest/gtest.h>

#include "TestCompositorProcess.hpp"
#include "display/DisplayIdentity.hpp"
#include "display/Edid.hpp"
#include "platform/linux/DisplayDirectory.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"

using namespace std::chrono_literals;

using WaylandDisplayKeys = OwnCompositorTest;

TEST_F(WaylandDisplayKeys, IdenticalMonitorsGetTheKeysAnX11SessionGivesThemAndKeepThem) {
  compositor.send("plug HDMI-A-1");
  ASSERT_TRUE(pumpUntil(*session, [&] { return outputs->outputs().size() == 2; }, 2s));

  // Two monitors of one model without a serial number, and the kernel's connectors for them.
  const auto twin = makeEdid("DEL", 0x4321, 0, "DELL P2419H");
  for (const std::string connector : {"DP-7", "HDMI-A-1"}) {
    tree.write("sys/class/drm/card0-" + connector + "/status", "connected\n");
    tree.write("sys/class/drm/card0-" + connector + "/edid", twin);
  }
  tree.folder("dev");
  const auto scanner = [&] { return DrmConnectors(tree.path("sys"), tree.path("dev"), nullptr); };
  DisplayDirectory wayland([&] { return outputs->outputs(); }, scanner(), Backlight(tree.path("sys")));
  // The X server names the HDMI connector "HDMI-1" and carries the EDIDs itself.
  DisplayDirectory x11(
      [&] { return std::vector<SessionOutput>{{0x41, "DP-7", true, twin}, {0x42, "HDMI-1", true, twin}}; },
      scanner(), Backlight(tree.path("sys")));
  const auto find = [](const std::vector<LinuxDisplay>& list, const std::string& connector) -> const LinuxDisplay* {
    for (const auto& display : list)
      if (display.connector && display.connector->name == connector) return &display;
    return nullptr;
  };
  // The identity the core gives a display the binding found.
  const auto identity = [](const LinuxDisplay& display) { return displayInfoFrom(LinuxDisplayPorts::factsOf(display)); };
  const auto keyOf = [&](const std::vector<LinuxDisplay>& list, const std::string& connector) {
    const auto* display = find(list, connector);
    return display ? identity(*display).stableKey : std::nullopt;
  };
  const auto& underWayland = wayland.refresh();
  const auto& underX11 = x11.refresh();
  ASSERT_EQ(underWayland.size(), 2u);
  const auto dpKey = keyOf(underWayland, "DP-7");
  const auto hdmiKey = keyOf(underWayland, "HDMI-A-1");
  ASSERT_TRUE(dpKey && hdmiKey);
  EXPECT_NE(dpKey, hdmiKey);
  EXPECT_EQ(keyOf(underX11, "DP-7"), dpKey);
  EXPECT_EQ(keyOf(underX11, "HDMI-A-1"), hdmiKey);
  // Each session names the keys it stored settings under before: with the output's own name, then without.
  EXPECT_EQ(identity(*find(underX11, "HDMI-A-1")).formerKeys,
            (std::vector<std::string>{edidStableKey(twin, "HDMI-1"), edidStableKey(twin)}));
  EXPECT_EQ(identity(*find(underWayland, "HDMI-A-1")).formerKeys, (std::vector<std::string>{edidStableKey(twin)}));

  // The DP monitor is unplugged: the other keeps its key.
  tree.write("sys/class/drm/card0-DP-7/status", "disconnected\n");
  tree.write("sys/class/drm/card0-DP-7/edid", "");
  compositor.send("unplug DP-7");
  ASSERT_TRUE(pumpUntil(*session, [&] { return outputs->outputs().size() == 1; }, 2s));
  const auto& alone = wayland.refresh();
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(identity(alone[0]).stableKey, hdmiKey);
}
