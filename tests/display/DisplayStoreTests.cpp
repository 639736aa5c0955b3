// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "display/ControlTestSupport.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "display/DisplayIdentity.hpp"
#include "display/DisplayStore.hpp"
#include "display/Edid.hpp"
#include "platform/sim/RecordingLogSink.hpp"
#include "services/L10n.hpp"

namespace {

std::string external(const std::string& connection) { return L10n::text("external_display_label") + "・" + connection; }

using DiscoveryTest = ControlTest;

TEST(ConnectionNames, TheConnectorsTypeNamesTheConnection) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"HDMI-A-1", "HDMI"},       {"HDMI-1", "HDMI"},          {"HDMI1", "HDMI"},  {"hdmi-b-2", "HDMI"},
      {"DP-1", "DisplayPort"},    {"DP1", "DisplayPort"},      {"DisplayPort-0", "DisplayPort"},
      {"DVI-I-1", "DVI"},         {"DVI-D-0", "DVI"},          {"VGA-1", std::nullopt},
      {"DPI-1", std::nullopt},    {"Virtual-1", std::nullopt}, {"HEADLESS-1", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [connector, expected] : cases) EXPECT_EQ(connectionName(connector), expected) << connector;
}

TEST_F(DiscoveryTest, InfoGathersIdentityNameConnectionAndChannel) {
  auto& monitor = machine.addExternalMonitor(
      {.id = 7, .productName = "Studio 27", .serialText = "SN-7", .connector = "DP-3", .vendor = 11, .model = 22, .serial = 33});

  const auto info = DDCIO::displayInfo(7);
  ASSERT_TRUE(info);
  const auto edid = parseEdid(monitor.edid());
  ASSERT_TRUE(edid);
  EXPECT_EQ(*info, (DisplayInfo{.displayID = 7,
                                .isBuiltIn = false,
                                .connector = "DP-3",
                                .stableKey = displayStableKey(*edid, "DP-3"),
                                .formerKeys = formerStableKeys(*edid, "DP-3", displayStableKey(*edid, "DP-3")),
                                .productName = "Studio 27",
                                .connectionLabel = external("DisplayPort"),
                                .vendor = 11,
                                .model = 22,
                                .serial = 33,
                                .i2cBus = 17}));
  EXPECT_EQ(DDCIO::cachedDisplayInfos().at(7), *info);

  const auto panel = DDCIO::displayInfo(machine.addBuiltInPanel({.productName = std::nullopt}).id());
  ASSERT_TRUE(panel);
  EXPECT_TRUE(panel->isBuiltIn);
  EXPECT_FALSE(panel->productName);
  EXPECT_EQ(panel->backlight, "panel8");
  EXPECT_EQ(panel->connectionLabel, L10n::text("built_in_display_label"));
}

// The key a display's settings are stored under must never change: these
// are the keys the settings files of earlier versions hold.
TEST_F(DiscoveryTest, KeysAreTheOnesStoredSettingsUse) {
  auto& unit = machine.addExternalMonitor({.id = 1, .productName = "Studio 27", .connector = "DP-1", .serial = 0x01234567});
  auto& twin = machine.addExternalMonitor({.id = 2, .productName = "Plain", .connector = "HDMI-A-1", .serial = 1});
  twin.outputName = "HDMI-1";
  EXPECT_EQ(DDCIO::displayInfo(1)->stableKey, edidStableKey(unit.edid()));
  EXPECT_EQ(DDCIO::displayInfo(1)->stableKey, "FAB4DD83-E66E-882F-A347-4C7C1B816662");
  // Without a unit serial the kernel's connector tells identical monitors apart.
  EXPECT_EQ(DDCIO::displayInfo(2)->stableKey, edidStableKey(twin.edid(), "HDMI-A-1"));
  EXPECT_EQ(DDCIO::displayInfo(2)->formerKeys,
            (std::vector<std::string>{edidStableKey(twin.edid(), "HDMI-1"), edidStableKey(twin.edid())}));
}

TEST_F(DiscoveryTest, AGarbledEdidGivesNoIdentityAndIsLogged) {
  auto& monitor = machine.addExternalMonitor({.id = 1});
  auto garbled = monitor.edid();
  garbled[20] ^= 0xFF;
  monitor.edidOverride = garbled;
  ScopedLogRecorder log;
  const auto info = DDCIO::displayInfo(1);
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->stableKey);
  EXPECT_FALSE(info->productName);
  EXPECT_EQ(info->connectionLabel, external("HDMI"));
  EXPECT_TRUE(log->contains("Ignoring the EDID of HDMI-A-1 (bad checksum): the display has no identity"));
}

TEST_F(DiscoveryTest, InfoIsComputedOnceUntilTheCachesAreEmptied) {
  auto& monitor = machine.addExternalMonitor({.id = 1, .productName = "Before"});
  ASSERT_EQ(DDCIO::displayInfo(1)->productName, "Before");
  monitor.productName = "After";
  EXPECT_EQ(DDCIO::displayInfo(1)->productName, "Before");
  DDCIO::clearCaches();
  EXPECT_EQ(DDCIO::displayInfo(1)->productName, "After");
}

TEST_F(DiscoveryTest, OnlineInfosFollowTheSessionsOrder) {
  machine.addExternalMonitor({.id = 3});
  machine.addExternalMonitor({.id = 1}).hasEdid = false;
  machine.addBuiltInPanel({.id = 2});

  std::vector<DisplayID> ids;
  for (const auto& info : DDCIO::onlineDisplayInfos()) ids.push_back(info.displayID);
  EXPECT_EQ(ids, (std::vector<DisplayID>{3, 1, 2}));  // the system's order, not sorted by ID

  DDCIO::clearCaches();
  machine.functions.onlineList = false;
  EXPECT_TRUE(DDCIO::onlineDisplayInfos().empty());
  EXPECT_TRUE(scope.traced("the connected displays cannot be read"));
}

// --- the published list ---------------------------------------------------

TEST_F(DiscoveryTest, TargetsAreNamedFromProductAndConnectionAndSortedIgnoringCase) {
  auto& named = machine.addExternalMonitor({.id = 1, .productName = "Studio 27", .serialText = "U1"});
  machine.addBuiltInPanel({.id = 2, .productName = std::nullopt, .withoutEdid = true});
  auto& plain = machine.addExternalMonitor({.id = 3, .productName = "Plain", .serialText = "U3", .connector = "VGA-1"});
  for (const auto& [id, name] : std::vector<std::pair<DisplayID, std::string>>{
           {4, "delta"}, {5, "Alpha"}, {6, "Same"}, {7, "beta"}, {8, "SAME"}, {9, "Same"}})
    machine.addExternalMonitor({.id = id, .productName = name});

  DisplayStore store(&notifications);

  std::map<DisplayID, DisplayTarget> byID;
  for (const auto& target : store.displays.get()) byID[target.displayID] = target;
  EXPECT_EQ(byID.at(1), (DisplayTarget{1, "Studio 27 (" + external("HDMI") + ")", false, edidStableKey(named.edid()),
                                       {edidStableKey(named.edid(), "HDMI-A-1")}}));
  EXPECT_EQ(byID.at(2), (DisplayTarget{2, L10n::text("unknown_display_name") + " (" + L10n::text("built_in_display_label") + ")",
                                       true, std::nullopt}));
  EXPECT_EQ(byID.at(3), (DisplayTarget{3, "Plain (" + L10n::text("external_display_label") + ")", false,
                                       edidStableKey(plain.edid()), {edidStableKey(plain.edid(), "VGA-1")}}));
  // Sorted ignoring case; equal names keep the system's order.
  std::vector<DisplayID> order;
  for (const auto& target : store.displays.get()) order.push_back(target.displayID);
  EXPECT_EQ(order, (std::vector<DisplayID>{5, 7, 4, 3, 6, 8, 9, 1, 2}));
}

TEST_F(DiscoveryTest, RefreshStartsFromEmptyCachesAlwaysPublishesAndFollowsScreenChanges) {
  EXPECT_TRUE(DisplayStore(nullptr).displays.get().empty());  // no displays, nothing to follow
  auto& monitor = machine.addExternalMonitor({.id = 1, .productName = "Old"});
  DisplayStore store(&notifications);
  ASSERT_TRUE(writeAnswered(loop, 1, 40));

  int published = 0;
  auto subscription = store.displays.changed.connect([&](const auto&) { ++published; });
  monitor.productName = "New";
  monitor.connector = "VGA-1";
  store.refresh();
  const int reads = machine.displayReads();
  store.refresh();

  EXPECT_EQ(published, 2);  // unchanged lists are published too
  EXPECT_EQ(machine.displayReads(), reads + 1);  // each refresh looks afresh
  EXPECT_EQ(store.displays.get().at(0).name, "New (" + L10n::text("external_display_label") + ")");

  machine.disconnect(1);
  notifications.screenParametersChanged.emit();
  EXPECT_TRUE(store.displays.get().empty());

  machine.connect(1);
  machine.addBuiltInPanel({.id = 2});
  notifications.screenParametersChanged.emit();
  EXPECT_EQ(store.displays.get().size(), 2u);
}

}  // namespace
