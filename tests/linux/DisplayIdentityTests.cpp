// The Linux binding's displays as the settings see them: keys that survive
// unplugging and version changes, and buses found without kernel connectors.
#include <gtest/gtest.h>

#include "LinuxTestSupport.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "display/DisplayStore.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"
#include "platform/sim/SimEnvironment.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/L10n.hpp"
#include "settings/StepStore.hpp"

namespace {
// A fake /sys and /dev, the X server's outputs as a list the test edits, and
// the binding installed as the system's display ports.
struct FakeMachine {
  TempTree tree;
  std::vector<RandrOutput> outputs;
  std::map<int, std::vector<std::uint8_t>> busEdids;  // what each bus answers at 0x50
  SimEnvironment environment;
  VirtualMainLoop loop;
  LinuxDisplayPorts binding{
      DisplayDirectory([this] { return outputs; },
                       DrmConnectors(tree.path("sys"), tree.path("dev"),
                                     [this](int bus) -> std::optional<std::vector<std::uint8_t>> {
                                       const auto found = busEdids.find(bus);
                                       if (found == busEdids.end()) return std::nullopt;
                                       return found->second;
                                     }),
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

TEST(DisplayIdentity, AMonitorWithoutAKernelConnectorIsDrivenOnTheBusAnsweringWithItsEdid) {
  FakeMachine machine;
  SimulatedMachineScope scope(machine.ports());
  const auto dell = makeEdid("DEL", 0x4321, 4455, "DELL P2419H");
  machine.tree.write("dev/i2c-1", "");
  machine.tree.write("dev/i2c-4", "");
  machine.busEdids = {{4, dell}};
  machine.outputs = {{0x71, "DP-0", 1, true, dell}};
  DisplayStore displays;
  ASSERT_EQ(displays.displays.get().size(), 1u);
  EXPECT_EQ(displays.displays.get()[0].name, "DELL P2419H (" + L10n::text("external_display_label") + "\u30FBDisplayPort)");
  EXPECT_EQ(displays.displays.get()[0].stableID, edidStableKey(dell));

  // The registry lists the output with its channel after it, as for a kernel connector.
  const auto entries = machine.binding.allEntries();
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ(machine.binding.path((*entries)[1]), LinuxDisplayPorts::outputLocation("DP-0") + "/i2c-4");
  EXPECT_EQ(machine.binding.searchProperty((*entries)[1], "Location"), PropertyValue("External"));
  // A write goes to /dev/i2c-4 (a plain file here, which refuses the chip address).
  EXPECT_FALSE(DDCIO::setBrightness(0x71, 50));
  EXPECT_TRUE(scope.traced("display 113: attempt 1 IOAVServiceWriteI2C result=0xe00002c7"));
}
