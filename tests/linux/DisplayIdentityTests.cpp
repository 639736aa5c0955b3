// The Linux binding's displays as the settings see them: keys that survive
// unplugging and version changes, and buses found without kernel connectors.
#include <gtest/gtest.h>

#include "LinuxTestSupport.hpp"
#include "display/DisplayStore.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"
#include "platform/sim/SimEnvironment.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "settings/StepStore.hpp"

namespace {
// A fake /sys and /dev, the X server's outputs as a list the test edits, and
// the binding installed as the system's display ports.
struct FakeMachine {
  TempTree tree;
  std::vector<RandrOutput> outputs;
  SimEnvironment environment;
  VirtualMainLoop loop;
  LinuxDisplayPorts binding{DisplayDirectory([this] { return outputs; },
                                           DrmConnectors(tree.path("sys"), tree.path("dev"), nullptr),
                                           Backlight(tree.path("sys"))),
                          I2CDevice(tree.path("dev")), nullptr};

  FakeMachine() {
    tree.folder("dev");
    environment.applicationSupport = tree.path("config");
    environment.home = tree.path("home");
  }
  SystemPorts ports() {
    return SystemPorts{.mainLoop = &loop,
                       .environment = &environment,
                       .displays = &binding,
                       .registry = &binding,
                       .avServices = &binding,
                       .panelBrightness = &binding,
                       .blockingSleep = &binding};
  }
  void plug(const std::string& connector, const std::vector<std::uint8_t>& edid) const {
    tree.write("sys/class/drm/card0-" + connector + "/status", edid.empty() ? "disconnected\n" : "connected\n");
    tree.write("sys/class/drm/card0-" + connector + "/edid", edid);
  }
};
}  // namespace

TEST(DisplayIdentity, IdenticalMonitorsKeepTheirSettingsThroughNewKeysAndAnUnplug) {
  FakeMachine machine;
  SimulatedMachineScope scope(machine.ports());
  const auto twin = makeEdid("DEL", 0x4321, 0, "DELL P2419H");  // no serial: only the port tells them apart
  machine.plug("DP-1", twin);
  machine.plug("HDMI-A-1", twin);
  {
    // An earlier version keyed twins by the X server's output name.
    StepStore earlier;
    earlier.reconcileDisplays({{0x51, "left", false, edidStableKey(twin, "DP-1")},
                               {0x52, "right", false, edidStableKey(twin, "HDMI-1")}});
    earlier.setDisplayMaximumPercent(80, 0x51);
    earlier.setDisplayMaximumPercent(65, 0x52);
    earlier.setDisplayUsesFullGammaMode(true, 0x52);
  }
  // A new X server gives the outputs new IDs: only the keys lead to the settings.
  machine.outputs = {{0x61, "DP-1", 1, true, twin}, {0x62, "HDMI-1", 2, true, twin}};
  StepStore store;
  DisplayStore displays;
  ASSERT_EQ(displays.displays.get().size(), 2u);
  store.reconcileDisplays(displays.displays.get());
  EXPECT_EQ(store.displayMaximumPercent(0x61), 80);  // same key as before: "DP-1" is the kernel's name too
  EXPECT_EQ(store.displayMaximumPercent(0x62), 65);  // adopted from its former key
  EXPECT_TRUE(store.displayFullGammaModes.get().at(0x62));
  const auto rightKey = store.connectedDisplayKeys().at(0x62);
  EXPECT_EQ(rightKey, edidStableKey(twin, "HDMI-A-1"));
  EXPECT_FALSE(store.displayProfiles().contains(edidStableKey(twin, "HDMI-1")));

  // The left twin is unplugged: the right one keeps its key and its settings.
  machine.plug("DP-1", {});
  machine.outputs = {{0x61, "DP-1", 0, false, {}}, {0x62, "HDMI-1", 2, true, twin}};
  displays.refresh();
  store.reconcileDisplays(displays.displays.get());
  EXPECT_EQ(store.connectedDisplayKeys(), (std::map<DisplayID, std::string>{{0x62, rightKey}}));
  EXPECT_EQ(store.displayMaximumPercent(0x62), 65);
  EXPECT_TRUE(store.displayFullGammaModes.get().at(0x62));
}
