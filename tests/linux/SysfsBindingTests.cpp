// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>

#include "LinuxTestSupport.hpp"
#include "display/DisplayIdentity.hpp"
#include "display/Edid.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"

TEST(Edid, ReadsIdentityFromAConstructedBlock) {
  const auto bytes = makeEdid("DEL", 0xA0B1, 0x01020304, "DELL U2720Q", "ABC123");
  const auto info = parseEdid(bytes);
  ASSERT_TRUE(info);
  EXPECT_EQ(std::tuple(info->vendorLetters(), info->vendor, info->product, info->serial, info->monitorName, info->serialText),
            std::tuple(std::string("DEL"), 0x10ACu, 0xA0B1u, 0x01020304u, std::optional<std::string>("DELL U2720Q"),
                       std::optional<std::string>("ABC123")));

  // Extension blocks after the base block are allowed and ignored.
  auto extended = bytes;
  extended.resize(256, 0x55);
  EXPECT_EQ(parseEdid(extended)->monitorName, "DELL U2720Q");
}

TEST(Edid, RejectsTruncatedGarbledAndHeaderlessBlocks) {
  using Edit = std::function<void(std::vector<std::uint8_t>&)>;
  const std::pair<Edit, std::string> cases[] = {
      {[](auto& e) { e.resize(127); }, "truncated"},
      {[](auto& e) { e.clear(); }, "truncated"},
      {[](auto& e) { e[80] ^= 0x01; }, "bad checksum"},
      {[](auto& e) { e[0] = 0x01, e[127] = static_cast<std::uint8_t>(e[127] - 1); }, "bad header"},  // sum kept
  };
  for (const auto& [edit, reason] : cases) {
    auto edid = makeEdid("SAM", 1, 2, "Odyssey");
    edit(edid);
    std::string why;
    EXPECT_FALSE(parseEdid(edid, &why));
    EXPECT_EQ(why, reason);
  }
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
class FakeDrm : public ::testing::Test, protected FakeSysfs {
 protected:
  std::vector<std::uint8_t> dellEdid = makeEdid("DEL", 1, 0, "DELL P2419H");
  std::vector<std::uint8_t> lgEdid = makeEdid("GSM", 2, 0, "LG ULTRAFINE");

  const DrmConnector* find(const std::vector<DrmConnector>& list, const std::string& name) {
    for (const auto& c : list)
      if (c.name == name) return &c;
    return nullptr;
  }
  using Buses = std::map<std::string, std::optional<int>>;
  // Each listed display's bus by its output's name.
  static Buses buses(const std::vector<LinuxDisplay>& list) {
    Buses found;
    for (const auto& d : list) found[d.outputName] = d.i2cBus;
    return found;
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
  Buses named;
  for (const auto& c : list) named[c.name] = c.i2cBus;
  // sysfs says nothing of the DVI monitor's bus.
  EXPECT_EQ(named, (Buses{{"DP-1", 7}, {"HDMI-A-1", 3}, {"DVI-D-1", {}}, {"eDP-1", {}}, {"VGA-1", {}}}));
  EXPECT_EQ(find(list, "DP-1")->transportType(), "DisplayPort");
  EXPECT_EQ(find(list, "HDMI-A-1")->transportType(), "HDMI");
  EXPECT_TRUE(find(list, "eDP-1")->isBuiltIn());
  EXPECT_FALSE(find(list, "VGA-1")->connected);
  EXPECT_EQ(find(list, "DP-1")->edid, dellEdid);
  EXPECT_TRUE(probed.empty());  // scanning alone never touches a bus

  // Online, the DVI monitor's bus is the first free one answering with its EDID.
  outputs = {{1, "DP-1", true, dellEdid}, {2, "HDMI-1", true, {}}, {3, "DVI-D-1", true, {}},
             {4, "eDP-1", true, {}}};
  auto displays = directory();
  // A built-in panel has no DDC channel to find.
  EXPECT_EQ(buses(displays.refresh()), (Buses{{"DP-1", 7}, {"HDMI-1", 3}, {"DVI-D-1", 5}, {"eDP-1", {}}}));
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
  EXPECT_EQ(buses(displays.refresh()), (Buses{{"DVI-I-1", 2}, {"DVI-I-2", 4}, {"DVI-I-3", {}}}));  // no third bus: no guess
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
  EXPECT_EQ(buses(list), (Buses{{"DP-0", 5}, {"DP-2", 3}}));
  EXPECT_FALSE(list[0].connector);
  // Mainboard adapters are never read (their 0x50 is a memory module's), and
  // no bus twice, though the first monitor looked at every bus before its own.
  EXPECT_EQ(probed, (std::vector<int>{2, 3, 4, 5}));
  EXPECT_EQ(displays.scanner().probeCount(), 4);

  // Refreshing without a change reads no bus again.
  displays.refresh();
  displays.refresh();
  EXPECT_EQ(probed.size(), 4u);
  EXPECT_EQ(buses(displays.displays()), (Buses{{"DP-0", 5}, {"DP-2", 3}}));

  // The monitors swap ports: the outputs now show the other EDIDs, so the buses are read again.
  busEdids = {{3, dellEdid}, {5, lgEdid}};
  outputs = {{1, "DP-0", true, lgEdid}, {2, "DP-2", true, dellEdid}};
  EXPECT_EQ(buses(displays.refresh()), (Buses{{"DP-0", 5}, {"DP-2", 3}}));
  EXPECT_GT(probed.size(), 4u);
}

TEST_F(FakeDrm, MissingTreeGivesNoConnectors) {
  EXPECT_TRUE(scanner().scan().empty());
  EXPECT_FALSE(i2cBusNumber("i2c-"));
  EXPECT_FALSE(i2cBusNumber("i2c-3x"));
  EXPECT_EQ(i2cBusNumber("i2c-12"), 12);
}

TEST(Backlight, PrefersTheConnectorsOwnDeviceThenRawThenFirmware) {
  FakeSysfs sysfs;
  auto& tree = sysfs.tree;
  sysfs.backlight("sys/class/backlight/acpi_video0", "firmware", 5, 10);
  sysfs.backlight("sys/class/backlight/intel_backlight", "raw", 960, 1920);
  Backlight backlight(tree.path("sys"));
  auto chosen = backlight.deviceFor({});
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->name, "intel_backlight");
  EXPECT_DOUBLE_EQ(*backlight.fraction(*chosen), 0.5);

  sysfs.backlight("sys/class/drm/card0-eDP-1/amdgpu_bl0", "raw", 100, 255);
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

namespace {
// The key the core gives each display the binding found.
std::vector<std::optional<std::string>> keysOf(const std::vector<LinuxDisplay>& list) {
  std::vector<std::optional<std::string>> keys;
  for (const auto& d : list) keys.push_back(displayInfoFrom(LinuxDisplayPorts::factsOf(d)).stableKey);
  return keys;
}
// Each display's connector by name, "" where none matched.
std::vector<std::string> connectorsOf(const std::vector<LinuxDisplay>& list) {
  std::vector<std::string> names;
  for (const auto& d : list) names.push_back(d.connector ? d.connector->name : "");
  return names;
}
}  // namespace

TEST(DisplayDirectory, JoinsOutputsToConnectorsByEdidThenName) {
  const auto dell = makeEdid("DEL", 1, 0, "DELL P2419H");
  const auto lg = makeEdid("GSM", 2, 0, "LG");
  DrmConnector dp{"DP-1", "/sys/class/drm/card0-DP-1", true, dell, 7};
  DrmConnector hdmi{"HDMI-A-1", "/sys/class/drm/card0-HDMI-A-1", true, lg, 3};
  DrmConnector edp{"eDP-1", "/sys/class/drm/card0-eDP-1", true, {}, std::nullopt};
  // The X server names HDMI-A-1 "HDMI-1" and has no EDID for it; the name pairs them.
  const auto list = DisplayDirectory::join({{0x41, "DP-1", true, dell},
                                            {0x42, "HDMI-1", true, {}},
                                            {0x43, "eDP-1", true, {}},
                                            {0x44, "DP-2", false, {}},  // connected but shows nothing
                                            {0x45, "DP-3", false, {}}},
                                           {dp, hdmi, edp}, nullptr);
  EXPECT_EQ(connectorsOf(list), (std::vector<std::string>{"DP-1", "HDMI-A-1", "eDP-1"}));
  EXPECT_EQ(list[0].id, 0x41u);
  EXPECT_EQ(list[1].edid, lg);  // from sysfs when X has no EDID property
  EXPECT_TRUE(list[2].isBuiltIn);
  EXPECT_TRUE(list[2].edid.empty());
  // No serial in these EDIDs: the kernel's connector name is part of the key.
  EXPECT_EQ(keysOf(list), (std::vector<std::optional<std::string>>{edidStableKey(dell, "DP-1"),
                                                                   edidStableKey(lg, "HDMI-A-1"), std::nullopt}));

  // Twins: the same EDID, so the connector of the same name wins; a garbled EDID passes as given (the core judges it).
  auto garbled = makeEdid("SAM", 2, 0, "S");
  garbled[100] ^= 0xFF;
  const std::vector<DrmConnector> twins{{"DP-1", "/c/DP-1", true, dell, 4}, {"DP-2", "/c/DP-2", true, dell, 5}};
  const auto joined = DisplayDirectory::join({{1, "DP-2", true, dell}, {2, "DP-1", true, dell}, {3, "HDMI-1", true, garbled}},
                                             twins, nullptr);
  EXPECT_EQ(connectorsOf(joined), (std::vector<std::string>{"DP-2", "DP-1", ""}));
  EXPECT_EQ(joined[2].edid, garbled);
}

TEST(DisplayDirectory, NamesPairOnlyWhereTheDriverCountsLikeTheKernel) {
  // No EDID on either side: only the names could pair them.
  DrmConnector first{"DP-1", "/c/DP-1", true, {}, 4};
  DrmConnector second{"DP-2", "/c/DP-2", true, {}, 5};
  // Outputs counted from zero: the X server's "DP-1" is the kernel's DP-2. Unpaired rather than driving the other monitor.
  EXPECT_EQ(connectorsOf(DisplayDirectory::join({{1, "DP-0", true, {}}, {2, "DP-1", true, {}}}, {first, second}, nullptr)),
            (std::vector<std::string>{"", ""}));
  // Counted from one, as the kernel does: names pair.
  EXPECT_EQ(connectorsOf(DisplayDirectory::join({{1, "DP-1", true, {}}, {2, "DP-2", true, {}}}, {first, second}, nullptr)),
            (std::vector<std::string>{"DP-1", "DP-2"}));
  // An EDID pairs whatever the names say.
  const auto dell = makeEdid("DEL", 1, 0, "DELL");
  second.edid = dell;
  EXPECT_EQ(connectorsOf(DisplayDirectory::join({{1, "DisplayPort-0", true, {}}, {2, "DisplayPort-1", true, dell}},
                                                {first, second}, nullptr)),
            (std::vector<std::string>{"", "DP-2"}));
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
  const I2CMessage set{.bus = 1, .address = 0x37, .write = {0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}};
  // No /dev/i2c-* at all: the module is missing.
  EXPECT_EQ(transferNow(device, {.bus = 6, .address = 0x37, .write = set.write}).status, I2CStatus::noModule);
  EXPECT_EQ(transferNow(device, {.bus = 7, .address = 0x37, .write = set.write}).status, I2CStatus::noModule);
  EXPECT_TRUE(logMentions(*log, "modules-load.d"));
  EXPECT_EQ(log->entries.size(), 1u);
  log->clear();

  // The module is there; these buses are not, or are no adapter.
  tree.write("dev/i2c-2", "not a device");
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

TEST(I2CDevice, ATransactionHoldsTheBusAgainstOtherToolsAndABusTheyHoldIsBusyAtOnce) {
  TempTree tree;
  const auto device = tree.write("dev/i2c-3", "");
  const I2CMessage set{.bus = 3, .address = 0x37, .write = {0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}};
  const I2CMessage get{.bus = 3, .address = 0x37, .readLength = 12};
  I2CDevice i2c(tree.path("dev"));
  const auto lockable = [&] { return run("flock -n " + device.string() + " true && echo free") == "free\n"; };
  ASSERT_TRUE(lockable());
  {
    // A request and its reply, 40 ms apart: the lock spans both.
    const auto transfer = i2c.open(3, 0x37);
    EXPECT_FALSE(lockable());  // another DDC/CI tool finds the bus taken
    EXPECT_EQ(transferNow(i2c, get).status, I2CStatus::busy);  // as does any transfer outside the transaction
  }
  EXPECT_TRUE(lockable());

  // Another DDC/CI tool holds the bus's lock for a while, as ddcutil does during a transaction.
  const std::string pid = run("flock " + device.string() + " sleep 3 >/dev/null 2>&1 & echo $!");
  for (int i = 0; i < 100 && lockable(); ++i) usleep(10'000);
  const auto started = std::chrono::steady_clock::now();
  const auto held = transferNow(i2c, set);
  EXPECT_EQ(held.status, I2CStatus::busy);
  EXPECT_EQ(held.error, device.string() + " is locked by another program");
  EXPECT_EQ(transferNow(i2c, get).status, I2CStatus::busy);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));  // never waited for
  run("kill " + pid);
  for (int i = 0; i < 300 && !lockable(); ++i) usleep(10'000);
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
