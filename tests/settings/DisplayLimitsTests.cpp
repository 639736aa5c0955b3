// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "display/BrightnessSafety.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "platform/sim/SimulatedMachine.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "settings/StepStore.hpp"
#include "SettingsTestSupport.hpp"

namespace {

// A store over a simulated machine, with its file in a private folder. The
// monitors' brightness is read on the loop: tests advance it past the reads.
class DisplayLimitsTest : public SettingsTest {
 protected:
  SystemPorts portsFor() {
    SystemPorts ports = machine.ports();
    ports.mainLoop = &loop;
    ports.environment = &environment;
    return ports;
  }
  StepStore::Ports ports() { return {.mainLoop = &loop, .environment = &environment}; }
  std::optional<AppConfig> savedFile() const { return decodeConfig(readFile(configPath())); }
  // The file once the store's saves are written.
  std::optional<AppConfig> savedConfig(StepStore& store) const {
    store.flushSaves();
    return savedFile();
  }
  static DisplayTarget target(const VirtualDisplay& display, std::optional<std::string> key,
                              std::vector<std::string> former = {}) {
    DisplayTarget target{display.id(), "display", display.isBuiltIn(), std::move(key)};
    target.formerStableIDs = std::move(former);
    return target;
  }
  // The displays the system lists now, once their brightness has been read.
  void reconcile(StepStore& store, const std::vector<DisplayTarget>& targets) {
    store.reconcileDisplays(targets);
    loop.advance(5);
  }

  VirtualMainLoop loop;
  SimulatedMachine machine{loop};
  SimulatedMachineScope scope{portsFor()};
};

}  // namespace

TEST(BrightnessSafety, optionsAreExactlyTheNormalizedValues) {
  std::set<double> reached;
  for (double v = -10; v <= 120; v += 0.25) reached.insert(BrightnessSafety::normalizedSafetyMinimum(v));
  EXPECT_EQ(reached, std::set<double>(BrightnessSafety::minimumOptions.begin(), BrightnessSafety::minimumOptions.end()));
  EXPECT_EQ(BrightnessSafety::normalizedSafetyMinimum(17.5), 20);  // half away from zero
}

TEST_F(DisplayLimitsTest, limitsStayWithinTheFloorAndEachOther) {
  StepStore store{ports()};
  store.safetyMinimumPercent = 20.0;
  store.setDisplayMaximumPercents({{1, 10}, {2, 50}, {3, NAN}});
  store.setDisplayMinimumPercents({{2, 60}, {3, -INFINITY}});
  EXPECT_EQ(store.displayMaximumPercent(1), 20);
  EXPECT_EQ(store.displayMinimumPercent(9), 20);  // no entries at all
  EXPECT_EQ(store.displayMaximumPercent(9), 100);
  EXPECT_EQ(store.displayMinimumPercent(2), 50);  // never above the maximum
  EXPECT_EQ(store.displayMaximumPercent(3), 100);  // not a number counts as the top
  EXPECT_EQ(store.displayMinimumPercent(3), 100);

  store.safetyMinimumPercent = 5.0;
  store.setDisplayMinimumPercent(40, 4);
  store.setDisplayMaximumPercent(30, 4);
  EXPECT_EQ(store.displayMaximumPercents().at(4), 40);
  store.setDisplayMaximumPercent(70, 5);
  store.setDisplayMinimumPercent(90, 5);
  EXPECT_EQ(store.displayMinimumPercents().at(5), 70);
  store.setDisplayMinimumPercent(-20, 6);
  EXPECT_EQ(store.displayMinimumPercents().at(6), 5);
  store.setDisplayUsesFullGammaMode(true, 6);
  const auto saved = savedConfig(store);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->displayMinimumPercents, store.displayMinimumPercents());
  EXPECT_EQ(saved->displayFullGammaModes, (std::map<DisplayID, bool>{{6, true}}));

  // Raising the floor raises the stored limits below it.
  store.setDisplayMaximumPercents({{1, 20}, {2, 80}});
  store.setDisplayMinimumPercents({{2, 10}, {3, 50}});
  store.safetyMinimumPercent = 30.0;
  EXPECT_EQ(store.displayMaximumPercents(), (std::map<DisplayID, double>{{1, 30}, {2, 80}}));
  EXPECT_EQ(store.displayMinimumPercents(), (std::map<DisplayID, double>{{1, 30}, {2, 30}, {3, 50}}));
  EXPECT_EQ(savedConfig(store)->displayMinimumPercents, store.displayMinimumPercents());
}

TEST_F(DisplayLimitsTest, aCollapsedRangeOfASelectedDisplaySendsTheGeneralNotification) {
  StepStore store{ports()};
  store.selectedDisplayIDs = std::set<DisplayID>{1};
  store.setDisplayMinimumPercent(40, 1);
  int ranges = 0, general = 0;
  auto a = store.rangeChanges.connect([&] { ++ranges; });
  auto b = store.objectWillChange.connect([&] { ++general; });

  store.setDisplayMaximumPercent(60, 1);
  EXPECT_EQ(ranges, 1);
  EXPECT_EQ(general, 0);
  store.setDisplayMaximumPercent(40, 1);  // now fixed
  EXPECT_EQ(ranges, 2);
  EXPECT_EQ(general, 1);
  const std::size_t writes = store.completedSaveCount();
  store.setDisplayMaximumPercent(40, 1);  // the same again: nothing
  EXPECT_EQ(ranges, 2);
  EXPECT_EQ(general, 1);
  EXPECT_EQ(store.completedSaveCount(), writes);

  store.setDisplayMaximumPercent(40, 7);  // an unselected display is never marked fixed
  store.setDisplayMinimumPercent(40, 7);
  EXPECT_EQ(general, 1);
}


TEST_F(DisplayLimitsTest, firstStartSeedsMaximumsFromHardwareBrightness) {
  auto& monitor = machine.addExternalMonitor({.serialText = "MON-A", .brightness = 60});
  auto& silent = machine.addExternalMonitor({.serialText = "MON-B"});
  auto& panel = machine.addBuiltInPanel({.serialText = "PANEL", .level = 0.3f});
  silent.failReads();
  StepStore store{ports()};
  store.beginInteractiveEdit();  // the seeded values are written even inside an edit
  const std::size_t before = store.completedSaveCount();
  reconcile(store, {target(monitor, "MON-A"), target(silent, "MON-B"), target(panel, "PANEL")});
  EXPECT_GT(store.completedSaveCount(), before);
  store.endInteractiveEdit();

  EXPECT_EQ(store.displayMaximumPercents(), (std::map<DisplayID, double>{{monitor.id(), 60}}));
  EXPECT_EQ(store.displayMinimumPercent(monitor.id()), 5);
  EXPECT_EQ(store.displayMaximumPercent(silent.id()), 100);  // no answer: counts as the top
  EXPECT_EQ(store.displayFullGammaModes.get().size(), 3u);
  EXPECT_TRUE(store.selectedDisplayIDs.get().empty());  // the startup task selects on a first run
  EXPECT_EQ(store.connectedDisplayKeys().size(), 3u);

  const auto saved = savedConfig(store);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->displayMaximumPercents, store.displayMaximumPercents());
  ASSERT_TRUE(saved->displayProfiles.contains("MON-A"));
  EXPECT_EQ(saved->displayProfiles.at("MON-A"), (SavedDisplayProfile{5, 60, false, false}));
}

TEST_F(DisplayLimitsTest, aReconnectedMonitorGetsItsProfileBackUnderANewID) {
  auto& monitor = machine.addExternalMonitor({.serialText = "MON-A", .brightness = 60});
  {
    StepStore store{ports()};
    reconcile(store, {target(monitor, "MON-A")});
    store.selectedDisplayIDs = std::set<DisplayID>{monitor.id()};
    store.setDisplayMinimumPercent(25, monitor.id());
    store.setDisplayMaximumPercent(75, monitor.id());
    store.setDisplayUsesFullGammaMode(true, monitor.id());
  }
  machine.disconnect(monitor.id());
  auto& again = machine.addExternalMonitor({.serialText = "MON-A", .brightness = 90});
  ASSERT_NE(again.id(), monitor.id());
  StepStore store{ports()};  // a new launch reads the profile from the file
  reconcile(store, {target(again, "MON-A")});
  EXPECT_EQ(store.displayMinimumPercent(again.id()), 25);
  EXPECT_EQ(store.displayMaximumPercent(again.id()), 75);
  EXPECT_TRUE(store.displayFullGammaModes.get().at(again.id()));
  EXPECT_TRUE(store.selectedDisplayIDs.get().contains(again.id()));
  EXPECT_EQ(store.interactiveEditDepth(), 0);
}

TEST_F(DisplayLimitsTest, aNewMonitorWhileProfilesExistIsSelectedFromItsOwnBrightness) {
  auto& known = machine.addExternalMonitor({.serialText = "KNOWN", .brightness = 60});
  auto& fresh = machine.addExternalMonitor({.serialText = "FRESH", .brightness = 35});
  StepStore store{ports()};
  reconcile(store, {target(known, "KNOWN")});
  // Stale values under the new monitor's ID (another display had it once).
  store.setDisplayMaximumPercent(90, fresh.id());
  store.setDisplayUsesFullGammaMode(true, fresh.id());
  reconcile(store, {target(known, "KNOWN"), target(fresh, "FRESH")});
  EXPECT_TRUE(store.selectedDisplayIDs.get().contains(fresh.id()));
  EXPECT_EQ(store.displayMaximumPercent(fresh.id()), 35);
  EXPECT_FALSE(store.displayFullGammaModes.get().at(fresh.id()));
  EXPECT_TRUE(store.displayProfiles().contains("FRESH"));
}

TEST_F(DisplayLimitsTest, sharedStableKeysDisableProfilesForThoseDisplaysOnly) {
  auto& first = machine.addExternalMonitor({.serialText = "SAME", .brightness = 60});
  auto& second = machine.addExternalMonitor({.serialText = "SAME", .brightness = 40});
  auto& other = machine.addExternalMonitor({.serialText = "OTHER", .brightness = 70});
  StepStore store{ports()};
  reconcile(store, {target(first, "SAME"), target(second, "SAME"), target(other, "OTHER"),
                           target(machine.addExternalMonitor({.withoutEdid = true}), std::nullopt)});
  EXPECT_EQ(store.connectedDisplayKeys(), (std::map<DisplayID, std::string>{{other.id(), "OTHER"}}));
  EXPECT_FALSE(store.displayProfiles().contains("SAME"));
  // Their ID-keyed values are still seeded and used.
  EXPECT_EQ(store.displayMaximumPercent(first.id()), 60);
  EXPECT_EQ(store.displayMaximumPercent(second.id()), 40);

  store.setDisplayMaximumPercent(55, first.id());
  reconcile(store, {target(first, "SAME"), target(second, "SAME"), target(other, "OTHER")});
  EXPECT_EQ(store.displayMaximumPercent(first.id()), 55);
  EXPECT_FALSE(savedConfig(store)->displayProfiles.contains("SAME"));
}

TEST_F(DisplayLimitsTest, aMonitorWhoseKeyChangedAdoptsItsFormerProfileOnce) {
  auto& lone = machine.addExternalMonitor({.brightness = 60});
  auto& twinA = machine.addExternalMonitor({.brightness = 60});
  auto& twinB = machine.addExternalMonitor({.brightness = 60});
  auto& known = machine.addExternalMonitor({.brightness = 60});
  {
    // What an earlier version stored: a lone monitor under its plain key, two
    // identical ones under keys with their output names.
    StepStore store{ports()};
    reconcile(store, {target(lone, "PLAIN"), target(twinA, "TWIN-HDMI-1"), target(twinB, "TWIN-HDMI-2"),
                             target(known, "KNOWN")});
    store.setDisplayMinimumPercent(30, lone.id());
    store.setDisplayUsesFullGammaMode(true, lone.id());
    store.setDisplayMaximumPercent(80, twinA.id());
    store.setDisplayMaximumPercent(70, twinB.id());
    store.selectedDisplayIDs = std::set<DisplayID>{lone.id()};
  }
  StepStore store{ports()};
  const int writes = store.completedSaveCount();
  // "KNOWN" already has a profile of its own: a former key never overwrites it.
  reconcile(store, {target(lone, "NEW-LONE", {"OUTPUT-KEY", "PLAIN"}),
                           target(twinA, "NEW-A", {"TWIN-HDMI-1", "PLAIN"}),
                           target(twinB, "NEW-B", {"TWIN-HDMI-2", "PLAIN"}), target(known, "KNOWN", {"PLAIN"})});
  EXPECT_EQ(store.displayMinimumPercent(lone.id()), 30);
  EXPECT_TRUE(store.displayFullGammaModes.get().at(lone.id()));
  EXPECT_EQ(store.displayMaximumPercent(twinA.id()), 80);  // its own former key, not the shared plain one
  EXPECT_EQ(store.displayMaximumPercent(twinB.id()), 70);
  EXPECT_EQ(store.selectedDisplayIDs.get(), (std::set<DisplayID>{lone.id()}));
  EXPECT_EQ(store.displayMaximumPercent(known.id()), 60);
  EXPECT_TRUE(scope.traced("Display settings stored under PLAIN now belong to NEW-LONE"));

  // Moved, not copied: the file holds each profile once, under the new keys.
  const auto saved = savedConfig(store);
  ASSERT_TRUE(saved);
  std::set<std::string> keys;
  for (const auto& entry : saved->displayProfiles) keys.insert(entry.first);
  EXPECT_EQ(keys, (std::set<std::string>{"KNOWN", "NEW-A", "NEW-B", "NEW-LONE"}));
  EXPECT_EQ(saved->displayProfiles.at("NEW-LONE").minimum, 30);
  EXPECT_GT(store.completedSaveCount(), writes);

  // Later a different monitor with the same former key finds nothing to adopt.
  auto& stranger = machine.addExternalMonitor({.brightness = 45});
  reconcile(store, {target(stranger, "STRANGER", {"PLAIN"})});
  EXPECT_EQ(store.displayMaximumPercent(stranger.id()), 45);
  EXPECT_TRUE(store.selectedDisplayIDs.get().contains(stranger.id()));
}

TEST_F(DisplayLimitsTest, aMonitorUnreadAtTheFirstStartIsReadAtALaterOne) {
  auto& monitor = machine.addExternalMonitor({.serialText = "MON-A", .brightness = 70});
  monitor.failReads();  // no i2c access yet
  {
    StepStore store{ports()};
    reconcile(store, {target(monitor, "MON-A")});
    store.setDisplayMinimumPercent(20, monitor.id());
    store.setDisplayUsesFullGammaMode(true, monitor.id());
    EXPECT_EQ(store.displayMaximumPercent(monitor.id()), 100);
  }
  monitor.failReads(0);  // access set up; the next start reads it
  for (int start = 0; start < 2; ++start) {
    DDCIO::resetBusTiming();  // a new process: nothing read from the monitor yet
    StepStore store{ports()};
    reconcile(store, {target(monitor, "MON-A")});
    EXPECT_EQ(store.displayMaximumPercent(monitor.id()), 70) << start;
    EXPECT_EQ(store.displayMinimumPercent(monitor.id()), 20) << start;  // the rest of its profile is kept
    EXPECT_TRUE(store.displayFullGammaModes.get().at(monitor.id())) << start;
    monitor.failReads();  // from now on its maximum is known: no read decides it
  }
  EXPECT_FALSE(savedFile()->displayProfiles.at("MON-A").maximumUnread);  // written as each store ended
}
