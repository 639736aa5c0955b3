// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux binding's displays as the settings and the transport see them:
// keys that survive unplugging and version changes, buses found without
// kernel connectors, and monitors a kernel driver owns.
#include <gtest/gtest.h>

#include "LinuxTestSupport.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "display/DisplayStore.hpp"
#include "display/Edid.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"
#include "platform/sim/SimEnvironment.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "services/L10n.hpp"
#include "settings/StepStore.hpp"

namespace {
// A fake /sys and /dev, the X server's outputs as a list the test edits, and
// the binding installed as the system's display ports.
struct FakeMachine : FakeSysfs {
  SimEnvironment environment;
  VirtualMainLoop loop;
  LinuxDisplayPorts binding{directory(), nullptr};
  I2CDevice i2c{tree.path("dev")};

  FakeMachine() {
    environment.applicationSupport = tree.path("config");
    environment.home = tree.path("home");
  }
  SystemPorts ports() {
    return SystemPorts{.mainLoop = &loop,
                       .environment = &environment,
                       .displays = &binding,
                       .i2c = &i2c,
                       .backlights = &binding};
  }
  StepStore::Ports storePorts() { return {.mainLoop = &loop, .environment = &environment}; }
};
}  // namespace

TEST(DisplayIdentity, IdenticalMonitorsKeepTheirSettingsThroughNewKeysAndAnUnplug) {
  FakeMachine machine;
  SimulatedMachineScope scope(machine.ports());
  const auto twin = makeEdid("DEL", 0x4321, 0, "DELL P2419H");  // no serial: only the port tells them apart
  machine.connector("DP-1", twin);
  machine.connector("HDMI-A-1", twin);
  {
    // An earlier version keyed twins by the X server's output name.
    StepStore earlier{machine.storePorts()};
    earlier.reconcileDisplays({{0x51, "left", false, edidStableKey(twin, "DP-1")},
                               {0x52, "right", false, edidStableKey(twin, "HDMI-1")}});
    earlier.setDisplayMaximumPercent(80, 0x51);
    earlier.setDisplayMaximumPercent(65, 0x52);
    earlier.setDisplayUsesFullGammaMode(true, 0x52);
  }
  // A new X server gives the outputs new IDs: only the keys lead to the settings.
  machine.outputs = {{0x61, "DP-1", true, twin}, {0x62, "HDMI-1", true, twin}};
  StepStore store{machine.storePorts()};
  DisplayStore displays(nullptr);
  ASSERT_EQ(displays.displays.get().size(), 2u);
  store.reconcileDisplays(displays.displays.get());
  EXPECT_EQ(store.displayMaximumPercent(0x61), 80);  // same key as before: "DP-1" is the kernel's name too
  EXPECT_EQ(store.displayMaximumPercent(0x62), 65);  // adopted from its former key
  EXPECT_TRUE(store.displayFullGammaModes.get().at(0x62));
  const auto rightKey = store.connectedDisplayKeys().at(0x62);
  EXPECT_EQ(rightKey, edidStableKey(twin, "HDMI-A-1"));
  EXPECT_FALSE(store.displayProfiles().contains(edidStableKey(twin, "HDMI-1")));

  // The left twin is unplugged: the right one keeps its key and its settings.
  machine.connector("DP-1", {}, false);
  machine.outputs = {{0x61, "DP-1", false, {}}, {0x62, "HDMI-1", true, twin}};
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
  machine.outputs = {{0x71, "DP-0", true, dell}};
  DisplayStore displays(nullptr);
  ASSERT_EQ(displays.displays.get().size(), 1u);
  EXPECT_EQ(displays.displays.get()[0].name, "DELL P2419H (" + L10n::text("external_display_label") + "\u30FBDisplayPort)");
  EXPECT_EQ(displays.displays.get()[0].stableID, edidStableKey(dell));

  // Its facts name the output and the bus, as for a kernel connector.
  const auto facts = machine.binding.connectedDisplays();
  ASSERT_TRUE(facts);
  ASSERT_EQ(facts->size(), 1u);
  EXPECT_EQ(facts->at(0).connector, "DP-0");
  EXPECT_EQ(facts->at(0).i2cBus, 4);
  // A write goes to /dev/i2c-4 (a plain file here, which refuses the chip address).
  std::optional<DDCIO::WriteFailure> outcome;
  const auto write = DDCIO::setBrightness(0x71, 50, DDCIO::kPercentSteps, [&](auto failure) { outcome = failure; });
  machine.loop.advance(DDCTransport::kFirstMessageWaitSeconds);  // a bus's first message waits a moment
  deliverI2CResults(machine.i2c);
  machine.loop.advance(DDCTransport::kMessageIntervalSeconds);  // the second attempt
  deliverI2CResults(machine.i2c);
  EXPECT_EQ(outcome, DDCIO::WriteFailure::noAnswer);
  EXPECT_TRUE(scope.traced("display 113: i2c-4 write result=no such device (" +
                           machine.tree.path("dev/i2c-4").string() + ": Inappropriate ioctl for device)"));
}

TEST(DisplayIdentity, AMonitorTheKernelsDdcciDriverOwnsIsDrivenThroughItsBacklightDevice) {
  FakeMachine machine;
  SimulatedMachineScope scope(machine.ports());
  ControlStatusStore::shared().clear();
  const auto dell = makeEdid("DEL", 0x4321, 4455, "DELL P2419H");
  const auto asus = makeEdid("AUS", 0x1234, 8899, "ASUS VG27");
  machine.connector("DP-1", dell);
  machine.tree.folder("sys/class/drm/card0-DP-1/i2c-7");
  machine.connector("DP-2", asus);
  machine.tree.folder("sys/class/drm/card0-DP-2/i2c-8");
  machine.tree.write("dev/i2c-7", "");
  machine.tree.write("dev/i2c-8", "");
  // ddcci_backlight's device for bus 7: it counts to the monitor's own maximum, 80.
  const std::string ddcci = "sys/devices/pci0000:00/0000:00:02.0/i2c-7/7-0037/ddcci7";
  machine.tree.folder(ddcci);
  machine.backlight("sys/class/backlight/ddcci7", "raw", 60, 80);
  machine.tree.link("../../../" + ddcci, "sys/class/backlight/ddcci7/device");
  // The laptop's panel has only the firmware's device: the monitor's raw one is not its.
  machine.connector("eDP-1");
  machine.backlight("sys/class/backlight/acpi_video0", "firmware", 15, 15);
  machine.outputs = {{0x81, "DP-1", true, dell}, {0x82, "DP-2", true, asus}, {0x83, "eDP-1", true, {}}};
  ScopedLogRecorder log;
  const auto facts = machine.binding.connectedDisplays();
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->at(2).backlight, "acpi_video0");
  EXPECT_EQ(facts->at(0).backlight, "ddcci7");
  EXPECT_EQ(facts->at(0).i2cBus, 7);
  EXPECT_TRUE(logMentions(*log, "The kernel's ddcci driver owns the bus of DP-1 (i2c-7): driving it through"));

  std::optional<double> percent;
  const auto read = DDCIO::readBrightness(0x81, [&](const DDCIO::BrightnessReading& r) { percent = r.percent; });
  machine.loop.advance(0.1);
  EXPECT_EQ(percent, 75.0);  // 60 of 80
  DDCBrightnessController controller({.mainLoop = machine.loop});
  controller.invalidateDisplayState();
  controller.apply(50, {0x81, 0x82}, {{0x81, 100}, {0x82, 100}}, {{0x81, 0}, {0x82, 0}}, {}, 1);
  for (int step = 0; step < 20; ++step) {  // the write waits out the interval after the read; a failure is tried again
    machine.loop.advance(0.05);
    deliverI2CResults(machine.i2c);
  }
  EXPECT_EQ(readTextFile(machine.tree.path("sys/class/backlight/ddcci7/brightness")), "41\n");  // 51 % (levels map onto 1...100) of 80
  EXPECT_EQ(ControlStatusStore::shared().status(0x81), "control_hardware");
  // The other monitor's bus is its own: its messages go to /dev/i2c-8 (a plain file here, which refuses them).
  EXPECT_EQ(ControlStatusStore::shared().status(0x82), "control_ddc_silent");
  EXPECT_FALSE(logMentions(*log, "ddcci driver holds"));

  // The driver unloaded: the device goes, and the monitor is a plain bus again.
  std::filesystem::remove_all(machine.tree.path("sys/class/backlight/ddcci7"));
  const auto unloaded = machine.binding.connectedDisplays();
  ASSERT_TRUE(unloaded);
  EXPECT_FALSE(unloaded->at(0).backlight);
}
