// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "display/DDCBrightness/DDCIO.hpp"
#include "display/DisplayStore.hpp"
#include "ports/SystemNotifications.hpp"
#include "platform/sim/SimulatedMachine.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/L10n.hpp"

namespace {

std::string external(const std::string& connection) { return L10n::text("external_display_label") + "・" + connection; }

class DiscoveryTest : public ::testing::Test {
 protected:
  SystemPorts machinePorts() {
    SystemPorts p = machine.ports();
    p.mainLoop = &loop;
    p.notifications = &notifications;
    return p;
  }
  // The transport properties of a monitor's registry entry.
  static PropertyDictionary& transport(VirtualDisplay& d) {
    auto& attributes = std::get<PropertyDictionary>(d.registryProperties.at("DisplayAttributes").value);
    return std::get<PropertyDictionary>(attributes["Transport"].value);
  }
  std::vector<std::string> names(const DisplayStore& store) {
    std::vector<std::string> out;
    for (const auto& target : store.displays.get()) out.push_back(target.name);
    return out;
  }

  VirtualMainLoop loop;
  SystemNotifications notifications;
  SimulatedMachine machine{&loop};
  SimulatedMachineScope scope{machinePorts()};
};

TEST(ConnectionNames, FirstMatchingRuleWinsOnUpperCasedText) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"HDMI", "HDMI"},
      {"hdmi-a-1", "HDMI"},
      {"DisplayPort over HDMI", "HDMI"},  // HDMI is checked first
      {"DisplayPort", "DisplayPort"},
      {"dp", "DisplayPort"},
      {"DP-1", std::nullopt},  // "DP" only as the whole text, "/DP" or within DPTX/DCPDP
      {"/arm-io/dp0", "DisplayPort"},
      {"dptx-phy", "DisplayPort"},
      {"IOService:/dcpdp0", "DisplayPort"},
      {"Thunderbolt 4", "Thunderbolt"},
      {"usb-c", "USB-C"},
      {"USBC port", "USB-C"},
      {"DVI-D", "DVI"},
      {"VGA", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [raw, expected] : cases) EXPECT_EQ(DDCIO::normalizedConnectionLabel(raw), expected) << raw;
}

TEST_F(DiscoveryTest, InfoGathersIdentityNameAndConnection) {
  auto& monitor = machine.addExternalMonitor(
      {.id = 7, .productName = "Studio 27", .uuid = "UUID-7", .transport = "DP", .vendor = 11, .model = 22, .serial = 33});

  const auto info = DDCIO::displayInfo(7);
  ASSERT_TRUE(info);
  EXPECT_EQ(*info, (DisplayInfo{.displayID = 7,
                                .isBuiltIn = false,
                                .uuid = "UUID-7",
                                .ioLocation = monitor.registryPath,
                                .productName = "Studio 27",
                                .connectionLabel = external("DisplayPort"),
                                .vendor = 11,
                                .model = 22,
                                .serial = 33}));
  EXPECT_EQ(DDCIO::cachedDisplayInfos().at(7), *info);

  const auto panel = DDCIO::displayInfo(machine.addBuiltInPanel({.productName = std::nullopt}).id());
  ASSERT_TRUE(panel);
  EXPECT_TRUE(panel->isBuiltIn);
  EXPECT_FALSE(panel->productName);
  EXPECT_EQ(panel->connectionLabel, L10n::text("built_in_display_label"));
}

TEST_F(DiscoveryTest, ConnectionComesFromTheFirstRecognisedText) {
  auto& monitor = machine.addExternalMonitor({.id = 1, .transport = "Unknown"});
  transport(monitor)["Upstream"] = "Thunderbolt";
  EXPECT_EQ(DDCIO::displayInfo(1)->connectionLabel, external("Thunderbolt"));

  // Texts of the wrong type are passed over on the way down the list.
  DDCIO::clearCaches();
  transport(monitor)["Upstream"] = 3.0;
  monitor.registryProperties["Location"] = true;
  monitor.registryProperties["PortTypeDescription"] = "USB-C";
  monitor.registryProperties["Description"] = "HDMI";
  EXPECT_EQ(DDCIO::displayInfo(1)->connectionLabel, external("USB-C"));

  // The registry path itself is the last resort.
  DDCIO::clearCaches();
  monitor.registryProperties.erase("PortTypeDescription");
  monitor.registryProperties.erase("Description");
  monitor.registryPath = "/virtual/dcpdp0/monitor1";
  monitor.infoDictionary = PropertyDictionary{{"IODisplayLocation", monitor.registryPath}};
  EXPECT_EQ(DDCIO::displayInfo(1)->connectionLabel, external("DisplayPort"));

  DDCIO::clearCaches();
  monitor.registryPath = "/virtual/port1/monitor1";
  monitor.infoDictionary = PropertyDictionary{{"IODisplayLocation", monitor.registryPath}};
  EXPECT_FALSE(DDCIO::displayInfo(1)->connectionLabel);
}

TEST_F(DiscoveryTest, MissingOrMistypedRegistryDataLeavesFieldsAbsent) {
  auto& monitor = machine.addExternalMonitor({.id = 1});
  monitor.registryProperties["DisplayAttributes"] = "not a dictionary";
  EXPECT_FALSE(DDCIO::displayInfo(1)->productName);

  DDCIO::clearCaches();
  monitor.registryProperties["DisplayAttributes"] =
      PropertyDictionary{{"ProductAttributes", PropertyDictionary{{"ProductName", 42.0}}}};
  const auto numericName = DDCIO::displayInfo(1);
  EXPECT_FALSE(numericName->productName);
  EXPECT_FALSE(numericName->connectionLabel);  // no transport, no usable text at all

  // A registry path that does not open: neither a name nor a connection.
  DDCIO::clearCaches();
  monitor.inRegistry = false;
  const auto unopened = DDCIO::displayInfo(1);
  EXPECT_FALSE(unopened->productName);
  EXPECT_FALSE(unopened->connectionLabel);
  EXPECT_TRUE(unopened->ioLocation);
}

TEST_F(DiscoveryTest, InformationDictionaryProblems) {
  auto& monitor = machine.addExternalMonitor({.id = 1});

  monitor.infoDictionary = PropertyDictionary{{"kCGDisplayUUID", 5.0}, {"IODisplayLocation", false}};
  const auto mistyped = DDCIO::displayInfo(1);
  ASSERT_TRUE(mistyped);
  EXPECT_FALSE(mistyped->uuid);
  EXPECT_FALSE(mistyped->ioLocation);
  EXPECT_FALSE(mistyped->productName);

  DDCIO::clearCaches();
  monitor.infoDictionary = PropertyValue("a string, not a dictionary");
  EXPECT_FALSE(DDCIO::displayInfo(1));
  monitor.infoDictionary.reset();
  EXPECT_FALSE(DDCIO::displayInfo(1));
  EXPECT_FALSE(DDCIO::cachedDisplayInfos().contains(1));

  machine.functions.infoDictionary = false;
  scope.clearTrace();
  EXPECT_FALSE(DDCIO::coreDisplayInfoDictionary(1));
  EXPECT_EQ(scope.trace(), std::vector<std::string>{"display 1: CoreDisplay_DisplayCreateInfoDictionary symbol missing"});
}

TEST_F(DiscoveryTest, InfoIsComputedOnceUntilTheCachesAreEmptied) {
  auto& monitor = machine.addExternalMonitor({.id = 1, .productName = "Before"});
  ASSERT_EQ(DDCIO::displayInfo(1)->productName, "Before");
  monitor.registryProperties["DisplayAttributes"] =
      PropertyDictionary{{"ProductAttributes", PropertyDictionary{{"ProductName", "After"}}}};
  EXPECT_EQ(DDCIO::displayInfo(1)->productName, "Before");
  DDCIO::clearCaches();
  EXPECT_EQ(DDCIO::displayInfo(1)->productName, "After");
}

TEST_F(DiscoveryTest, OnlineInfosSkipDisplaysWithoutInformation) {
  machine.addExternalMonitor({.id = 3});
  machine.addExternalMonitor({.id = 1}).infoDictionary.reset();
  machine.addBuiltInPanel({.id = 2});

  std::vector<DisplayID> ids;
  for (const auto& info : DDCIO::onlineDisplayInfos()) ids.push_back(info.displayID);
  EXPECT_EQ(ids, (std::vector<DisplayID>{3, 2}));  // the system's order, not sorted by ID
  EXPECT_TRUE(scope.traced("display 1: CoreDisplay info unavailable"));

  machine.functions.onlineList = false;
  EXPECT_TRUE(DDCIO::onlineDisplayInfos().empty());
}

// --- the published list ---------------------------------------------------

TEST_F(DiscoveryTest, TargetsAreNamedFromProductAndConnection) {
  machine.addExternalMonitor({.id = 1, .productName = "Studio 27", .uuid = "U1"});
  machine.addBuiltInPanel({.id = 2, .productName = std::nullopt, .withoutUUID = true});
  machine.addExternalMonitor({.id = 3, .productName = "Plain", .uuid = "U3", .transport = std::nullopt});

  DisplayStore store;

  std::map<DisplayID, DisplayTarget> byID;
  for (const auto& target : store.displays.get()) byID[target.displayID] = target;
  EXPECT_EQ(byID.at(1), (DisplayTarget{1, "Studio 27 (" + external("HDMI") + ")", false, "U1"}));
  EXPECT_EQ(byID.at(2), (DisplayTarget{2, L10n::text("unknown_display_name") + " (" + L10n::text("built_in_display_label") + ")",
                                       true, std::nullopt}));
  EXPECT_EQ(byID.at(3), (DisplayTarget{3, "Plain (" + L10n::text("external_display_label") + ")", false, "U3"}));
}

TEST_F(DiscoveryTest, SortIgnoresCaseAndKeepsTheSystemOrderForEqualNames) {
  machine.addExternalMonitor({.id = 1, .productName = "delta", .transport = "HDMI"});
  machine.addExternalMonitor({.id = 2, .productName = "Alpha", .transport = "HDMI"});
  machine.addExternalMonitor({.id = 3, .productName = "Same", .transport = "HDMI"});
  machine.addExternalMonitor({.id = 4, .productName = "beta", .transport = "HDMI"});
  machine.addExternalMonitor({.id = 5, .productName = "SAME", .transport = "HDMI"});
  machine.addExternalMonitor({.id = 6, .productName = "Same", .transport = "HDMI"});

  DisplayStore store;

  std::vector<DisplayID> order;
  for (const auto& target : store.displays.get()) order.push_back(target.displayID);
  EXPECT_EQ(order, (std::vector<DisplayID>{2, 4, 1, 3, 5, 6}));
}

TEST_F(DiscoveryTest, RefreshStartsFromEmptyCachesAndAlwaysPublishes) {
  auto& monitor = machine.addExternalMonitor({.id = 1, .productName = "Old"});
  DisplayStore store;
  ASSERT_TRUE(DDCIO::setBrightness(1, 40));
  ASSERT_TRUE(DDCIO::hasCachedAVService(1));

  int published = 0;
  auto subscription = store.displays.changed.connect([&](const auto&) { ++published; });
  monitor.registryProperties["DisplayAttributes"] =
      PropertyDictionary{{"ProductAttributes", PropertyDictionary{{"ProductName", "New"}}}};
  store.refresh();
  store.refresh();

  EXPECT_EQ(published, 2);  // unchanged lists are published too
  EXPECT_FALSE(DDCIO::hasCachedAVService(1));
  EXPECT_EQ(store.displays.get().at(0).name, "New (" + L10n::text("external_display_label") + ")");
}

TEST_F(DiscoveryTest, ScreenChangesRefreshTheList) {
  machine.addExternalMonitor({.id = 1});
  DisplayStore store;
  ASSERT_EQ(store.displays.get().size(), 1u);

  machine.disconnect(1);
  notifications.screenParametersChanged.emit();
  EXPECT_TRUE(store.displays.get().empty());

  machine.connect(1);
  machine.addBuiltInPanel({.id = 2});
  notifications.screenParametersChanged.emit();
  EXPECT_EQ(store.displays.get().size(), 2u);
}

TEST(DisplayStoreWithoutDisplays, PublishesAnEmptyList) {
  SimulatedMachine machine;
  SimulatedMachineScope scope(machine.ports());
  DisplayStore store;
  EXPECT_TRUE(store.displays.get().empty());
}

}  // namespace
