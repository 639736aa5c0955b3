// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <map>

#include "LinuxTestSupport.hpp"
#include "display/DisplayIdentity.hpp"
#include "display/Edid.hpp"
#include "platform/linux/Backlight.hpp"
#include "platform/linux/DisplayDirectory.hpp"
#include "platform/linux/DrmConnectors.hpp"
#include "platform/linux/I2CDevice.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"
#include "platform/sim/RecordingLogSink.hpp"

TEST(Edid, ReadsIdentityFromAConstructedBlock) {
  const auto bytes = makeEdid("DEL", 0xA0B1, 0x01020304, "DELL U2720Q", "ABC123");
  const auto info = parseEdid(bytes);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->vendorLetters(), "DEL");
  EXPECT_EQ(info->vendor, 0x10ACu);
  EXPECT_EQ(info->product, 0xA0B1u);
  EXPECT_EQ(info->serial, 0x01020304u);
  EXPECT_EQ(info->monitorName, "DELL U2720Q");
  EXPECT_EQ(info->serialText, "ABC123");

  // Extension blocks after the base block are allowed and ignored.
  auto extended = bytes;
  extended.resize(256, 0x55);
  EXPECT_EQ(parseEdid(extended)->monitorName, "DELL U2720Q");
}

TEST(Edid, RejectsTruncatedGarbledAndHeaderlessBlocks) {
  const auto good = makeEdid("SAM", 1, 2, "Odyssey");
  std::string why;
  EXPECT_FALSE(parseEdid(std::span(good).first(127), &why));
  EXPECT_EQ(why, "truncated");
  EXPECT_FALSE(parseEdid({}, &why));

  auto badSum = good;
  badSum[80] ^= 0x01;
  EXPECT_FALSE(parseEdid(badSum, &why));
  EXPECT_EQ(why, "bad checksum");

  auto badHeader = good;
  badHeader[0] = 0x01;
  badHeader[127] = static_cast<std::uint8_t>(badHeader[127] - 1);
  EXPECT_FALSE(parseEdid(badHeader, &why));
  EXPECT_EQ(why, "bad header");
}

TEST(Edid, StableKeyIsAUuidThatFollowsTheMonitor) {
  const auto a = makeEdid("DEL", 1, 7, "A");
  const auto b = makeEdid("DEL", 1, 8, "A");
  const auto key = edidStableKey(a);
  EXPECT_EQ(key.size(), 36u);
  EXPECT_EQ(key[14], '8');  // version nibble
  EXPECT_EQ(key, edidStableKey(a));
  EXPECT_NE(key, edidStableKey(b));
  EXPECT_NE(edidStableKey(a, "DP-1"), edidStableKey(a, "DP-2"));
}

TEST(Edid, AUnitSerialKeysTheMonitorAloneAndItsAbsenceAddsThePort) {
  const auto serialOf = [](std::uint32_t serial, const std::string& text = {}) {
    return parseEdid(makeEdid("DEL", 1, serial, "DELL", text))->hasUnitSerial();
  };
  EXPECT_TRUE(serialOf(0x2A4B19));
  EXPECT_TRUE(serialOf(0, "CN0F2K7"));
  EXPECT_TRUE(serialOf(0x01010101, "CN0F2K7"));  // the descriptor tells units apart where the number cannot
  for (std::uint32_t filler : {0u, 1u, 0x01010101u, 0xFFFFFFFFu}) EXPECT_FALSE(serialOf(filler)) << filler;
  EXPECT_FALSE(serialOf(0, "000000"));

  // With serials: the port does not matter, the serial tells twins apart.
  const auto first = *parseEdid(makeEdid("DEL", 1, 1001, "DELL"));
  const auto second = *parseEdid(makeEdid("DEL", 1, 1002, "DELL"));
  EXPECT_EQ(displayStableKey(first, "DP-1"), displayStableKey(first, "HDMI-A-2"));
  EXPECT_EQ(displayStableKey(first, "DP-1"), edidStableKey(first.baseBlock));  // what a lone monitor always had
  EXPECT_NE(displayStableKey(first, "DP-1"), displayStableKey(second, "DP-1"));
  // Without: the port tells twins apart.
  const auto plain = *parseEdid(makeEdid("DEL", 1, 0x01010101, "DELL"));
  EXPECT_NE(displayStableKey(plain, "DP-1"), displayStableKey(plain, "DP-2"));
  EXPECT_EQ(displayStableKey(plain, "DP-1"), displayStableKey(plain, "DP-1"));

  // Former keys: output-name key, then the EDID alone, never the current one, never twice.
  const auto current = displayStableKey(plain, "HDMI-A-1");
  EXPECT_EQ(formerStableKeys(plain, "HDMI-1", current),
            (std::vector<std::string>{edidStableKey(plain.baseBlock, "HDMI-1"), edidStableKey(plain.baseBlock)}));
  EXPECT_EQ(formerStableKeys(plain, "HDMI-A-1", current),
            (std::vector<std::string>{edidStableKey(plain.baseBlock)}));
  EXPECT_EQ(formerStableKeys(first, "DP-1", displayStableKey(first, "DP-1")),
            (std::vector<std::string>{edidStableKey(first.baseBlock, "DP-1")}));
}

// A fake /sys/class/drm with the three ways a connector finds its DDC bus.
class FakeDrm : public ::testing::Test {
 protected:
  TempTree tree;
  std::vector<std::uint8_t> dellEdid = makeEdid("DEL", 1, 0, "DELL P2419H");
  std::vector<std::uint8_t> lgEdid = makeEdid("GSM", 2, 0, "LG ULTRAFINE");
  std::map<int, std::vector<std::uint8_t>> busEdids;  // what each fallback bus answers at 0x50
  std::vector<int> probed;

  void connector(const std::string& name, const std::vector<std::uint8_t>& edid, bool connected = true) {
    tree.write("sys/class/drm/card0-" + name + "/status", connected ? "connected\n" : "disconnected\n");
    tree.write("sys/class/drm/card0-" + name + "/edid", edid);
  }
  DrmConnectors scanner() {
    return DrmConnectors(tree.path("sys"), tree.path("dev"), [this](int bus) -> std::optional<std::vector<std::uint8_t>> {
      probed.push_back(bus);
      const auto it = busEdids.find(bus);
      if (it == busEdids.end()) return std::nullopt;
      return it->second;
    });
  }
  const DrmConnector* find(const std::vector<DrmConnector>& list, const std::string& name) {
    for (const auto& c : list)
      if (c.name == name) return &c;
    return nullptr;
  }
  // The X server's outputs, which the test edits between refreshes.
  std::vector<SessionOutput> outputs;
  DisplayDirectory directory() {
    return DisplayDirectory([this] { return outputs; }, scanner(), Backlight(tree.path("sys")));
  }
  static std::optional<int> busOf(const std::vector<LinuxDisplay>& list, const std::string& outputName) {
    for (const auto& d : list)
      if (d.outputName == outputName) return d.i2cBus;
    ADD_FAILURE() << outputName << " is not listed";
    return std::nullopt;
  }
  void adapter(int bus, const std::string& name) {
    tree.write("dev/i2c-" + std::to_string(bus), "");
    tree.write("sys/bus/i2c/devices/i2c-" + std::to_string(bus) + "/name", name + "\n");
  }
};

TEST_F(FakeDrm, FindsBusesThroughAuxFolderDdcLinkAndEdidMatch) {
  tree.folder("sys/class/drm/card0");  // the card itself is not a connector
  connector("DP-1", dellEdid);
  tree.folder("sys/class/drm/card0-DP-1/i2c-7");
  connector("HDMI-A-1", lgEdid);
  tree.folder("sys/devices/pci0000:00/i2c-3/i2c-dev/i2c-3");
  tree.link("../../../devices/pci0000:00/i2c-3", "sys/class/drm/card0-HDMI-A-1/ddc");
  const auto other = makeEdid("AUS", 3, 0, "ASUS");
  connector("DVI-D-1", other);
  connector("eDP-1", makeEdid("BOE", 4, 0, ""));
  connector("VGA-1", {}, false);
  for (int bus : {1, 3, 5, 7, 9}) tree.write("dev/i2c-" + std::to_string(bus), "");
  busEdids = {{1, lgEdid}, {5, other}, {9, other}};

  const auto list = scanner().scan();
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(find(list, "DP-1")->i2cBus, 7);
  EXPECT_EQ(find(list, "DP-1")->transportType(), "DisplayPort");
  EXPECT_EQ(find(list, "HDMI-A-1")->i2cBus, 3);
  EXPECT_EQ(find(list, "HDMI-A-1")->transportType(), "HDMI");
  EXPECT_FALSE(find(list, "DVI-D-1")->i2cBus);  // sysfs does not say
  EXPECT_FALSE(find(list, "eDP-1")->i2cBus);
  EXPECT_TRUE(find(list, "eDP-1")->isBuiltIn());
  EXPECT_FALSE(find(list, "VGA-1")->connected);
  EXPECT_EQ(find(list, "DP-1")->edid, dellEdid);
  EXPECT_TRUE(probed.empty());  // scanning alone never touches a bus

  // Online, the DVI monitor's bus is the first free one answering with its EDID.
  outputs = {{1, "DP-1", true, dellEdid}, {2, "HDMI-1", true, {}}, {3, "DVI-D-1", true, {}},
             {4, "eDP-1", true, {}}};
  auto displays = directory();
  const auto& online = displays.refresh();
  EXPECT_EQ(busOf(online, "DP-1"), 7);
  EXPECT_EQ(busOf(online, "HDMI-1"), 3);
  EXPECT_EQ(busOf(online, "DVI-D-1"), 5);
  EXPECT_FALSE(busOf(online, "eDP-1"));  // a built-in panel has no DDC channel to find
  // Buses named by sysfs are never probed, and probing stops at the match.
  EXPECT_EQ(probed, (std::vector<int>{1, 5}));
}

TEST_F(FakeDrm, IdenticalMonitorsGetDistinctBuses) {
  connector("DVI-I-1", dellEdid);
  connector("DVI-I-2", dellEdid);
  connector("DVI-I-3", dellEdid);
  for (int bus : {2, 4}) tree.write("dev/i2c-" + std::to_string(bus), "");
  busEdids = {{2, dellEdid}, {4, dellEdid}};
  outputs = {{1, "DVI-I-1", true, dellEdid}, {2, "DVI-I-2", true, dellEdid}, {3, "DVI-I-3", true, dellEdid}};
  auto displays = directory();
  const auto& list = displays.refresh();
  EXPECT_EQ(busOf(list, "DVI-I-1"), 2);
  EXPECT_EQ(busOf(list, "DVI-I-2"), 4);
  EXPECT_FALSE(busOf(list, "DVI-I-3"));  // no third bus: no guess
  EXPECT_EQ(probed, (std::vector<int>{2, 4}));  // each bus read once
}

TEST_F(FakeDrm, WithoutKernelConnectorsBusesAreFoundByEdidOncePerDisplayChange) {
  // A driver without kernel mode setting: no connectors, 0-numbered outputs,
  // and the buses its own module registers next to the mainboard's.
  tree.folder("sys/class/drm/card0");
  adapter(0, "SMBus I801 adapter at efa0");
  adapter(1, "Synopsys DesignWare I2C adapter");
  for (int bus : {2, 3, 4}) adapter(bus, "NVIDIA i2c adapter " + std::to_string(bus) + " at 1:00.0");
  tree.write("dev/i2c-5", "");  // no name in sysfs: worth a look
  busEdids = {{0, dellEdid}, {1, lgEdid}, {3, lgEdid}, {5, dellEdid}};
  outputs = {{1, "DP-0", true, dellEdid}, {2, "DP-2", true, lgEdid}, {3, "DP-4", false, {}}};
  auto displays = directory();
  const auto& list = displays.refresh();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_FALSE(list[0].connector);
  EXPECT_EQ(busOf(list, "DP-0"), 5);
  EXPECT_EQ(busOf(list, "DP-2"), 3);
  // Mainboard adapters are never read (their 0x50 is a memory module's), and
  // no bus twice, though the first monitor looked at every bus before its own.
  EXPECT_EQ(probed, (std::vector<int>{2, 3, 4, 5}));
  EXPECT_EQ(displays.scanner().probeCount(), 4);

  // Refreshing without a change reads no bus again.
  displays.refresh();
  displays.refresh();
  EXPECT_EQ(probed.size(), 4u);
  EXPECT_EQ(busOf(displays.displays(), "DP-0"), 5);

  // The monitors swap ports: the outputs now show the other EDIDs, so the buses are read again.
  busEdids = {{3, dellEdid}, {5, lgEdid}};
  outputs = {{1, "DP-0", true, lgEdid}, {2, "DP-2", true, dellEdid}};
  displays.refresh();
  EXPECT_EQ(busOf(displays.displays(), "DP-0"), 5);
  EXPECT_EQ(busOf(displays.displays(), "DP-2"), 3);
  EXPECT_GT(probed.size(), 4u);
}

TEST_F(FakeDrm, MissingTreeGivesNoConnectors) {
  EXPECT_TRUE(scanner().scan().empty());
  EXPECT_FALSE(i2cBusNumber("i2c-"));
  EXPECT_FALSE(i2cBusNumber("i2c-3x"));
  EXPECT_EQ(i2cBusNumber("i2c-12"), 12);
}

TEST(Backlight, PrefersTheConnectorsOwnDeviceThenRawThenFirmware) {
  TempTree tree;
  auto device = [&](const std::string& folder, const std::string& type, int value, int max) {
    tree.write(folder + "/type", type + "\n");
    tree.write(folder + "/brightness", std::to_string(value) + "\n");
    tree.write(folder + "/actual_brightness", std::to_string(value) + "\n");
    tree.write(folder + "/max_brightness", std::to_string(max) + "\n");
  };
  device("sys/class/backlight/acpi_video0", "firmware", 5, 10);
  device("sys/class/backlight/intel_backlight", "raw", 960, 1920);
  Backlight backlight(tree.path("sys"));
  auto chosen = backlight.deviceFor({});
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->name, "intel_backlight");
  EXPECT_DOUBLE_EQ(*backlight.fraction(*chosen), 0.5);

  device("sys/class/drm/card0-eDP-1/amdgpu_bl0", "raw", 100, 255);
  chosen = backlight.deviceFor(tree.path("sys/class/drm/card0-eDP-1"));
  EXPECT_EQ(chosen->name, "amdgpu_bl0");

  EXPECT_EQ(backlight.writeRaw(*chosen, 42), 0);
  EXPECT_EQ(readTextFile(chosen->folder / "brightness"), "42\n");
}

TEST(Backlight, VanishedOrBrokenDeviceReadsAsNothing) {
  TempTree tree;
  tree.write("sys/class/backlight/panel/max_brightness", "0\n");
  tree.write("sys/class/backlight/panel/brightness", "3\n");
  Backlight backlight(tree.path("sys"));
  const auto device = backlight.deviceFor({});
  ASSERT_TRUE(device);
  EXPECT_FALSE(backlight.fraction(*device));  // a zero maximum cannot give a fraction
  std::filesystem::remove_all(tree.path("sys/class/backlight/panel"));
  EXPECT_FALSE(backlight.fraction(*device));
  EXPECT_EQ(backlight.writeRaw(*device, 1), ENODEV);
  EXPECT_FALSE(backlight.deviceFor({}));
}

// The key the core gives a display the binding found.
std::optional<std::string> keyOf(const LinuxDisplay& display) {
  return displayInfoFrom(LinuxDisplayPorts::factsOf(display)).stableKey;
}

TEST(DisplayDirectory, JoinsOutputsToConnectorsByEdidThenName) {
  const auto dell = makeEdid("DEL", 1, 0, "DELL P2419H");
  const auto lg = makeEdid("GSM", 2, 0, "LG");
  DrmConnector dp{"DP-1", "/sys/class/drm/card0-DP-1", true, dell, 7};
  DrmConnector hdmi{"HDMI-A-1", "/sys/class/drm/card0-HDMI-A-1", true, lg, 3};
  DrmConnector edp{"eDP-1", "/sys/class/drm/card0-eDP-1", true, {}, std::nullopt};
  // The X server names HDMI-A-1 "HDMI-1" and has no EDID for it; the name pairs them.
  std::vector<SessionOutput> outputs{{0x41, "DP-1", true, dell},
                                     {0x42, "HDMI-1", true, {}},
                                     {0x43, "eDP-1", true, {}},
                                     {0x44, "DP-2", false, {}},  // connected but shows nothing
                                     {0x45, "DP-3", false, {}}};
  const auto list = DisplayDirectory::join(outputs, {dp, hdmi, edp}, nullptr);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].id, 0x41u);
  EXPECT_EQ(list[0].connector->name, "DP-1");
  EXPECT_EQ(list[1].connector->name, "HDMI-A-1");
  EXPECT_EQ(list[1].edid, lg);  // from sysfs when X has no EDID property
  EXPECT_TRUE(list[2].isBuiltIn);
  EXPECT_TRUE(list[2].edid.empty());
  EXPECT_FALSE(keyOf(list[2]));
  // No serial in this EDID: the kernel's connector name is part of the key.
  EXPECT_EQ(keyOf(list[0]), edidStableKey(dell, "DP-1"));
  EXPECT_EQ(keyOf(list[1]), edidStableKey(lg, "HDMI-A-1"));
}

TEST(DisplayDirectory, TwinMonitorsKeepApartAndEdidsPassAsGiven) {
  const auto same = makeEdid("DEL", 1, 0, "DELL");
  auto garbled = makeEdid("SAM", 2, 0, "S");
  garbled[100] ^= 0xFF;
  std::vector<DrmConnector> connectors{{"DP-1", "/c/DP-1", true, same, 4}, {"DP-2", "/c/DP-2", true, same, 5}};
  std::vector<SessionOutput> outputs{
      {1, "DP-2", true, same}, {2, "DP-1", true, same}, {3, "HDMI-1", true, garbled}};
  const auto list = DisplayDirectory::join(outputs, connectors, nullptr);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].connector->i2cBus, 5);  // same EDID: the connector of the same name wins
  EXPECT_EQ(list[1].connector->i2cBus, 4);
  EXPECT_EQ(list[2].edid, garbled);  // the core decides what a garbled EDID is worth
}

TEST(DisplayDirectory, OutputAndConnectorNamesMatchAcrossDrivers) {
  EXPECT_TRUE(outputMatchesConnector("HDMI-1", "HDMI-A-1"));
  EXPECT_TRUE(outputMatchesConnector("DisplayPort-0", "DP-0"));
  EXPECT_TRUE(outputMatchesConnector("DP1", "DP-1"));
  EXPECT_TRUE(outputMatchesConnector("DVI-I-1", "DVI-D-1"));
  EXPECT_FALSE(outputMatchesConnector("DP-1", "DP-10"));
  EXPECT_FALSE(outputMatchesConnector("eDP-1", "DP-1"));
}

TEST(I2CDevice, ErrorsBecomeResultCodesAndEachCauseIsExplainedOnce) {
  resetI2CExplanations();
  ScopedLogRecorder log;
  TempTree tree;
  tree.folder("dev");
  I2CDevice device(tree.path("dev"));
  const std::vector<std::uint8_t> packet = {0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A};
  // No /dev/i2c-* at all: the module is missing.
  EXPECT_EQ(transferNow(device, {.bus = 6, .address = 0x37, .write = packet}).status, I2CStatus::noModule);
  EXPECT_EQ(transferNow(device, {.bus = 7, .address = 0x37, .write = packet}).status, I2CStatus::noModule);
  EXPECT_TRUE(logMentions(*log, "modules-load.d"));
  EXPECT_EQ(log->entries.size(), 1u);
  log->clear();

  // The module is there; these buses are not, or are no adapter.
  tree.write("dev/i2c-2", "not a device");
  const I2CMessage set{.bus = 1, .address = 0x37, .write = {0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}};
  const auto missing = transferNow(device, set);
  EXPECT_EQ(missing.status, I2CStatus::noDevice);
  EXPECT_EQ(missing.error, tree.path("dev/i2c-1").string() + ": No such file or directory");
  EXPECT_EQ(transferNow(device, {.bus = 2, .address = 0x37, .write = set.write}).status, I2CStatus::noDevice);
  const auto read = transferNow(device, {.bus = 2, .address = 0x37, .readLength = 12});
  EXPECT_EQ(read.status, I2CStatus::noDevice);  // not an adapter
  EXPECT_EQ(read.error, tree.path("dev/i2c-2").string() + ": Inappropriate ioctl for device");
  EXPECT_FALSE(device.readEdid(2));

  EXPECT_EQ(explainedStatus(EACCES, "/dev/i2c-4"), I2CStatus::noAccess);
  EXPECT_EQ(explainedStatus(EACCES, "/dev/i2c-5"), I2CStatus::noAccess);
  EXPECT_EQ(explainedStatus(EREMOTEIO, "/dev/i2c-4"), I2CStatus::noAnswer);
  EXPECT_EQ(explainedStatus(EIO, "/dev/i2c-4"), I2CStatus::ioError);
  EXPECT_EQ(log->entries.size(), 1u);
  EXPECT_TRUE(logMentions(*log, "i2c group"));
  EXPECT_TRUE(logMentions(*log, "i2c-dev module"));
  // A bus the kernel's ddcci driver holds: its backlight module is the way out.
  EXPECT_EQ(explainedStatus(EBUSY, "/dev/i2c-4"), I2CStatus::claimedByDriver);
  EXPECT_EQ(explainedStatus(EBUSY, "/dev/i2c-5"), I2CStatus::claimedByDriver);
  EXPECT_EQ(log->entries.size(), 2u);
  EXPECT_TRUE(logMentions(*log, "load ddcci_backlight"));
}

TEST(DisplayDirectory, NamesPairOnlyWhereTheDriverCountsLikeTheKernel) {
  // No EDID on either side: only the names could pair them.
  DrmConnector first{"DP-1", "/c/DP-1", true, {}, 4};
  DrmConnector second{"DP-2", "/c/DP-2", true, {}, 5};
  // Outputs counted from zero: the X server's "DP-1" is the kernel's DP-2.
  auto list = DisplayDirectory::join({{1, "DP-0", true, {}}, {2, "DP-1", true, {}}}, {first, second}, nullptr);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_FALSE(list[0].connector);
  EXPECT_FALSE(list[1].connector);  // unpaired rather than driving the other monitor
  // Counted from one, as the kernel does: names pair.
  list = DisplayDirectory::join({{1, "DP-1", true, {}}, {2, "DP-2", true, {}}}, {first, second}, nullptr);
  EXPECT_EQ(list[0].connector->i2cBus, 4);
  EXPECT_EQ(list[1].connector->i2cBus, 5);
  // An EDID pairs whatever the names say.
  const auto dell = makeEdid("DEL", 1, 0, "DELL");
  second.edid = dell;
  list = DisplayDirectory::join({{1, "DisplayPort-0", true, {}}, {2, "DisplayPort-1", true, dell}}, {first, second},
                                nullptr);
  EXPECT_FALSE(list[0].connector);
  EXPECT_EQ(list[1].connector->i2cBus, 5);
}

TEST(Backlight, AFewStepsNeverRoundALitPanelToOff) {
  EXPECT_EQ(Backlight::rawLevel(0.05, 7), 1u);   // 0.35 would round to 0, which turns some panels off
  EXPECT_EQ(Backlight::rawLevel(0.01, 15), 1u);
  EXPECT_EQ(Backlight::rawLevel(0.0, 7), 0u);    // asked for off, gets off
  EXPECT_EQ(Backlight::rawLevel(0.5, 7), 4u);
  EXPECT_EQ(Backlight::rawLevel(1.0, 7), 7u);
  EXPECT_EQ(Backlight::rawLevel(2.0, 7), 7u);
  EXPECT_EQ(Backlight::rawLevel(std::nan(""), 7), 0u);
  EXPECT_EQ(Backlight::rawLevel(0.004, 1920), 8u);
}

TEST(I2CDevice, ATransactionKeepsOtherToolsOffTheBusUntilItEnds) {
  TempTree tree;
  const auto device = tree.write("dev/i2c-3", "");
  I2CDevice i2c(tree.path("dev"));
  const auto lockable = [&] { return run("flock -n " + device.string() + " true && echo free") == "free\n"; };
  ASSERT_TRUE(lockable());
  {
    // A request and its reply, 40 ms apart: the lock spans both.
    const auto transfer = i2c.open(3, 0x37);
    EXPECT_FALSE(lockable());  // another DDC/CI tool finds the bus taken
    // As does any transfer outside the transaction.
    EXPECT_EQ(transferNow(i2c, {.bus = 3, .address = 0x37, .readLength = 12}).status, I2CStatus::busy);
  }
  EXPECT_TRUE(lockable());
}

TEST(I2CDevice, ABusAnotherProgramHoldsIsReportedBusyAtOnce) {
  TempTree tree;
  const auto device = tree.write("dev/i2c-3", "");
  const I2CMessage set{.bus = 3, .address = 0x37, .write = {0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}};
  I2CDevice i2c(tree.path("dev"));
  // Another DDC/CI tool holds the bus's lock for a while, as ddcutil does during a transaction.
  const std::string holder = "flock " + device.string() + " sleep 3 >/dev/null 2>&1 & echo $!";
  const std::string pid = run(holder);
  for (int i = 0; i < 100 && run("flock -n " + device.string() + " true && echo free") == "free\n"; ++i) usleep(10'000);
  const auto started = std::chrono::steady_clock::now();
  const auto held = transferNow(i2c, set);
  EXPECT_EQ(held.status, I2CStatus::busy);
  EXPECT_EQ(held.error, device.string() + " is locked by another program");
  EXPECT_EQ(transferNow(i2c, {.bus = 3, .address = 0x37, .readLength = 12}).status, I2CStatus::busy);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));  // never waited for
  run("kill " + pid);
  for (int i = 0; i < 300 && run("flock -n " + device.string() + " true && echo free") != "free\n"; ++i) usleep(10'000);
  // Free again: the transfer goes on to the device (a plain file here, which is no I2C adapter).
  EXPECT_EQ(transferNow(i2c, set).status, I2CStatus::noDevice);
}

TEST(I2CDevice, ResultsComeBackOnTheCallersThreadInOrderPerBusAndNeverWhenCancelled) {
  TempTree tree;
  tree.write("dev/i2c-3", "");
  tree.write("dev/i2c-4", "");
  std::vector<std::string> delivered;
  const auto caller = std::this_thread::get_id();
  const auto record = [&](std::string name) {
    return [&, name](const I2CResult& result) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      EXPECT_EQ(result.status, I2CStatus::noDevice);  // a plain file is no adapter
      delivered.push_back(name);
    };
  };
  {
    I2CDevice i2c(tree.path("dev"));
    const I2CMessage set{.bus = 3, .address = 0x37, .write = {0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}};
    auto first = i2c.submit(set, record("3a"));
    auto cancelled = i2c.submit(set, record("3b"));
    auto third = i2c.submit(set, record("3c"));
    auto other = i2c.submit({.bus = 4, .address = 0x37, .readLength = 12}, record("4"));
    cancelled.cancel();
    EXPECT_TRUE(delivered.empty());  // never inside submit
    deliverI2CResults(i2c);
    EXPECT_FALSE(i2c.hasTransfersUnderWay());
    std::erase(delivered, "4");
    EXPECT_EQ(delivered, (std::vector<std::string>{"3a", "3c"}));
    EXPECT_FALSE(first.isActive());  // delivered work is done
    // Work still queued when the device goes: its threads are joined, nothing is delivered.
    for (int i = 0; i < 20; ++i) i2c.submit(set, record("late")).detach();
  }
  EXPECT_EQ(delivered.size(), 2u);
}
