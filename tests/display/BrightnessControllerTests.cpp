// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "display/ControlTestSupport.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "services/L10n.hpp"

namespace {
using BrightnessControllerTest = DrivenControllerTest;

TEST_F(BrightnessControllerTest, RangeIsKeptWithinTheFloorAndEachOther) {
  const auto range = [](std::map<DisplayID, double> maximums, std::map<DisplayID, double> minimums, double safety) {
    return DDCBrightnessController::displayRange(1, maximums, minimums, safety);
  };
  EXPECT_EQ(range({{1, 3}}, {{1, 0}}, 12.5).maximum, 15);     // maximum raised to the floor
  EXPECT_EQ(range({{1, 60}}, {{1, 90}}, 5).minimum, 60);      // minimum lowered to the maximum
  EXPECT_EQ(range({}, {}, 12.5).minimum, 15);                 // no entry: the safety minimum, snapped up
  EXPECT_EQ(range({{1, NAN}}, {{1, NAN}}, 5).maximum, 100);   // unusable limits: the full range collapses on 100
  EXPECT_EQ(range({{1, NAN}}, {{1, NAN}}, 5).minimum, 100);
  EXPECT_EQ(range({{1, 250}}, {{1, -20}}, 2).maximum, 100);
  EXPECT_EQ(range({{1, 250}}, {{1, -20}}, 2).minimum, 1);
}

TEST_F(BrightnessControllerTest, LogicalLevelMapsOntoTheDisplayRangeAndNeverBelowTheFloor) {
  auto& monitor = machine.addExternalMonitor();
  endStartup();
  const std::vector<std::pair<double, int>> written = {{100, 80}, {0, 20}, {50, 50}, {-30, 20}, {250, 80}, {NAN, 80}};
  for (const auto& [logical, value] : written) {
    drive(logical, {monitor.id()}, {.maximum = 80, .minimum = 20});
    loop.advance(1);
    EXPECT_EQ(monitor.vcpCurrent(), value) << logical;
  }
  drive(0, {monitor.id()}, {.maximum = 0, .minimum = 0, .safety = 0});
  EXPECT_EQ(monitor.vcpCurrent(), 1);
  EXPECT_TRUE(scope.traced("display 1: success actual=1% max=1%"));
}

TEST_F(BrightnessControllerTest, LaunchBrightnessIsKeptUntilTheMaximumIsConfirmed) {
  auto& kept = machine.addExternalMonitor({.brightness = 42});
  auto& dimmed = machine.addExternalMonitor({.brightness = 42});
  drive(100, {kept.id()});
  drive(99, {dimmed.id()});  // first reached below full: written normally
  auto& nearlyFull = machine.addExternalMonitor({.brightness = 42});
  drive(99.9, {nearlyFull.id()});  // a tenth short of full counts as full
  EXPECT_EQ(nearlyFull.acceptedWrites(), 0);
  EXPECT_EQ(kept.acceptedWrites(), 0);
  EXPECT_EQ(kept.vcpCurrent(), 42);
  EXPECT_EQ(dimmed.vcpCurrent(), 99);
  EXPECT_EQ(status(kept.id()), "control_unchecked");
  auto& busless = machine.addExternalMonitor();
  busless.i2cBus.reset();  // nothing to keep: it says at once why it is not driven
  drive(100, {busless.id()});
  EXPECT_EQ(status(busless.id()), "control_no_bus");

  drive(100, {kept.id()});
  EXPECT_EQ(kept.vcpCurrent(), 100);
  const auto trace = scope.trace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(),
                       "display 1: preserving startup brightness because current max is not verified yet"),
            1);

  auto& late = machine.addExternalMonitor({.brightness = 42});
  endStartup();  // a display change ends the launch phase for good
  drive(100, {late.id()});
  EXPECT_EQ(late.vcpCurrent(), 100);
  EXPECT_FALSE(controller.preservesStartupBrightness());
}

TEST_F(BrightnessControllerTest, OneStepDecreasesAreSpacedOutAndTheLastOneIsDelivered) {
  auto& monitor = machine.addExternalMonitor();
  endStartup();
  const Limits full{.minimum = 0, .safety = 1};
  drive(80, {monitor.id()}, full);
  loop.advance(0.05);
  drive(79, {monitor.id()}, full);
  EXPECT_EQ(monitor.vcpCurrent(), 80);
  EXPECT_TRUE(controller.hasPendingWrite());
  loop.advance(0.10);
  drive(79.2, {monitor.id()}, full);  // replaces the deferred re-apply
  loop.advance(0.10);                 // the first one would have fired here
  EXPECT_EQ(monitor.vcpCurrent(), 80);
  loop.advance(0.08);
  EXPECT_EQ(monitor.vcpCurrent(), 79);
  EXPECT_EQ(monitor.acceptedWrites(), 2);
  EXPECT_FALSE(controller.hasPendingWrite());

  // Increases and larger steps go out as soon as the bus allows, however recent the last write.
  loop.advance(0.05);
  drive(81, {monitor.id()}, full);
  EXPECT_EQ(monitor.vcpCurrent(), 81);
  loop.advance(0.05);
  drive(79, {monitor.id()}, full);
  EXPECT_EQ(monitor.vcpCurrent(), 79);
  EXPECT_EQ(monitor.acceptedWrites(), 4);

  // A display change drops the deferred write.
  drive(78, {monitor.id()}, full);
  EXPECT_TRUE(controller.hasPendingWrite());
  controller.invalidateDisplayState();
  loop.advance(1);
  EXPECT_EQ(monitor.acceptedWrites(), 4);

  // So does an increase, which goes out at once.
  drive(80, {monitor.id()}, full);
  loop.advance(0.05);
  drive(79, {monitor.id()}, full);
  ASSERT_TRUE(controller.hasPendingWrite());
  loop.advance(0.05);
  drive(90, {monitor.id()}, full);
  EXPECT_EQ(monitor.vcpCurrent(), 90);
  EXPECT_FALSE(controller.hasPendingWrite());
}

TEST_F(BrightnessControllerTest, UnchangedValuesAreNotRewrittenAndTheThrottleFollowsTheMonotonicClock) {
  auto& monitor = machine.addExternalMonitor();
  endStartup();
  drive(60, {monitor.id()});
  loop.advance(1);
  drive(60.2, {monitor.id()});  // same hardware value
  EXPECT_EQ(monitor.acceptedWrites(), 1);
  EXPECT_EQ(status(monitor.id()), "control_hardware");
  EXPECT_EQ(controller.lastAppliedByDisplay().at(monitor.id()), 62);

  loop.advance(1);
  drive(80, {monitor.id()}, {.minimum = 0, .safety = 1});
  loop.shiftWallClock(std::chrono::hours(-1));
  loop.advance(0.2);
  drive(79, {monitor.id()}, {.minimum = 0, .safety = 1});
  EXPECT_EQ(monitor.vcpCurrent(), 79);
}

TEST_F(BrightnessControllerTest, FullGammaDisplaysAreNeverWrittenInHardwareAndSayWhyWithoutTables) {
  auto& monitor = machine.addExternalMonitor();
  endStartup();
  drive(70, {monitor.id()});
  drive(40, {monitor.id()}, {.fullGamma = true});
  EXPECT_EQ(monitor.vcpCurrent(), 72);
  EXPECT_EQ(status(monitor.id()), "control_gamma");
  EXPECT_FALSE(controller.lastAppliedByDisplay().contains(monitor.id()));
  EXPECT_TRUE(scope.traced("display 1: full gamma mode actual=43%"));
  EXPECT_NEAR(monitor.gammaScale(), 0.43, 1e-6);

  drive(70, {monitor.id()});  // back to hardware: written again though the value is the same
  loop.advance(0.05);
  EXPECT_EQ(monitor.acceptedWrites(), 2);
  EXPECT_EQ(monitor.gammaScale(), 1.0);

  // Without gamma tables the reason is its one status.
  auto& without = machine.addExternalMonitor();
  without.gammaSize = 0;  // the desktop gives this output no gamma tables
  drive(100, {without.id()}, {.fullGamma = true});
  EXPECT_EQ(status(without.id()), "control_gamma_failed");
  drive(40, {without.id()}, {.fullGamma = true});
  EXPECT_EQ(status(without.id()), "control_gamma_failed");
  without.gammaSize = 256;  // it has them again
  drive(100, {without.id()}, {.fullGamma = true});
  EXPECT_EQ(status(without.id()), "control_gamma");
}

TEST_F(BrightnessControllerTest, DisplaysLeavingTheTargetsAreForgottenNotWritten) {
  auto& a = machine.addExternalMonitor();
  auto& b = machine.addExternalMonitor();
  endStartup();
  drive(50, {a.id(), b.id()});
  loop.advance(1);
  drive(30, {a.id()});
  EXPECT_EQ(b.vcpCurrent(), 53);
  EXPECT_EQ(controller.lastAppliedByDisplay().size(), 1u);
  loop.advance(1);
  drive(50, {a.id(), b.id()});
  EXPECT_EQ(b.acceptedWrites(), 2);  // treated as never written on its return

  loop.advance(1);
  drive(1, {a.id(), b.id()});  // actual ~6 %: both gamma-assisted
  EXPECT_LT(a.gammaScale(), 1.0);
  drive(50, {});
  loop.advance(1);
  EXPECT_EQ(a.acceptedWrites(), 4);
  EXPECT_TRUE(controller.lastAppliedByDisplay().empty());
  EXPECT_EQ(a.gammaScale(), 1.0);
  EXPECT_EQ(b.gammaScale(), 1.0);
}

TEST_F(BrightnessControllerTest, AFailingMonitorBacksOffAndIsRetriedUntilItAnswers) {
  auto& silent = machine.addExternalMonitor();
  silent.failWrites();
  silent.faultStatus = I2CStatus::noAnswer;
  endStartup();
  const int readsBefore = machine.displayReads();
  // A 6 s fade at 24 frames per second: tried at 0, 1 and 3 s, not on every
  // frame; each try is two attempts on the bus.
  for (int frame = 0; frame < 144; ++frame) {
    drive(100 - frame * 0.5, {silent.id()}, {.minimum = 0, .safety = 1});
    loop.advance(1.0 / 24);
  }
  EXPECT_EQ(machine.i2cLog(silent.id(), true).size(), 6u);
  EXPECT_EQ(machine.displayReads() - readsBefore, 3);  // a first look, then a fresh one for each try
  EXPECT_EQ(status(silent.id()), "control_ddc_silent");
  EXPECT_TRUE(scope.traced("display 1: failed"));
  EXPECT_TRUE(scope.traced("display 1: next attempt in 4 s"));

  // Nothing asks again at rest, yet the last value arrives once the monitor answers.
  silent.failWrites(0);
  loop.advance(2);
  EXPECT_EQ(silent.vcpCurrent(), 29);
  EXPECT_EQ(status(silent.id()), "control_hardware");
  EXPECT_FALSE(controller.retryDelay(silent.id()));
  EXPECT_FALSE(controller.hasPendingWrite());

  // The wait doubles up to a minute and stays there.
  silent.failWrites();
  drive(60, {silent.id()}, {.minimum = 0, .safety = 1});
  loop.advance(600);
  EXPECT_TRUE(scope.traced("display 1: next attempt in 32 s"));
  EXPECT_TRUE(scope.traced("display 1: next attempt in 60 s"));
  EXPECT_FALSE(scope.traced("display 1: next attempt in 64 s"));
  EXPECT_LE(*controller.retryDelay(silent.id()), 60);

  // A display that disappears keeps its last value on record and fails.
  auto& leaving = machine.addExternalMonitor();
  drive(50, {leaving.id()});
  machine.disconnect(leaving.id());
  loop.advance(1);
  drive(20, {leaving.id()});
  loop.advance(DDCTransport::kMessageIntervalSeconds);
  EXPECT_NE(status(leaving.id()), "control_hardware");
  EXPECT_EQ(controller.lastAppliedByDisplay().at(leaving.id()), 53);
}

TEST_F(BrightnessControllerTest, RestorePutsDisplaysAtTheirMaximumAndEndsTheLaunchPhase) {
  auto& monitor = machine.addExternalMonitor({.brightness = 30});
  auto& gamma = machine.addExternalMonitor({.brightness = 30});
  drive(10, {gamma.id()}, {.fullGamma = true});
  controller.restoreBrightness({monitor.id(), gamma.id()}, {{monitor.id(), 3}, {gamma.id(), 90}},
                               {{gamma.id(), true}}, 12.5);
  loop.advance(DDCTransport::kFirstMessageWaitSeconds);  // the first message on its bus
  EXPECT_EQ(monitor.vcpCurrent(), 15);  // raised to the floor
  EXPECT_EQ(gamma.acceptedWrites(), 0);
  EXPECT_EQ(gamma.gammaScale(), 1.0);
  EXPECT_EQ(status(monitor.id()), "control_hardware");
  EXPECT_EQ(status(gamma.id()), "control_gamma");
  EXPECT_TRUE(controller.startupPreservedDisplays().contains(monitor.id()));
  EXPECT_FALSE(controller.preservesStartupBrightness());
  drive(100, {monitor.id()}, {.maximum = 15});
  EXPECT_EQ(monitor.acceptedWrites(), 1);  // already there, not rewritten
}

TEST_F(BrightnessControllerTest, ARestoreTracesOnlyItsWritesAndHoldsNoStepBackAfterIt) {
  auto& monitor = machine.addExternalMonitor({.brightness = 30});
  auto& missed = machine.addExternalMonitor({.brightness = 30});
  missed.failWrites(2);  // both attempts of the first write
  missed.faultStatus = I2CStatus::noAnswer;
  controller.restoreBrightness({monitor.id(), missed.id()}, {}, {}, 1);
  loop.advance(1.2);  // the missed one is tried again after its rest
  EXPECT_EQ(missed.vcpCurrent(), 100);
  EXPECT_TRUE(scope.traced("display 2: writing Set VCP brightness to i2c-12"));
  for (const std::string& line : scope.trace()) {
    EXPECT_EQ(line.find("success"), std::string::npos) << line;
    EXPECT_EQ(line.find("apply"), std::string::npos) << line;
  }

  controller.restoreBrightness({monitor.id()}, {}, {}, 1);
  loop.advance(DDCTransport::kMessageIntervalSeconds);
  drive(99, {monitor.id()}, {.minimum = 0, .safety = 1});  // one step down: only the bus's pace applies
  EXPECT_EQ(monitor.vcpCurrent(), 99);
}

TEST_F(BrightnessControllerTest, StatusStoreNotifiesOnlyOnChange) {
  int notifications = 0;
  auto subscription = ControlStatusStore::shared().states.changed.connect([&](const auto&) { ++notifications; });
  ControlStatusStore::shared().set(ControlStatus::hardware, 3);
  ControlStatusStore::shared().set(ControlStatus::hardware, 3);
  ControlStatusStore::shared().set(ControlStatus::failed, 3);
  EXPECT_EQ(notifications, 2);
  EXPECT_EQ(status(3), "control_failed");
}

// Gamma standing in for hardware that cannot be driven.
class GammaStandInTest : public DrivenControllerTest {
 protected:
  GammaStandInTest() { controller.invalidateDisplayState(); }  // past the launch phase
};

TEST_F(GammaStandInTest, AnUnwritablePanelIsDimmedThroughGammaAndAKeyPutsTheTableBackAtOnce) {
  auto& panel = machine.addBuiltInPanel({.level = 0.6f});
  panel.setStatus = BacklightStatus::noAccess;

  drive(100, {panel.id()}, {.maximum = 60});
  EXPECT_EQ(panel.gammaScale(), 1.0);
  EXPECT_TRUE(controller.gammaStandsIn(panel.id()));

  // The 40 % step over 5...60: 27 %, shown as 27/60 of the original table.
  drive(40, {panel.id()}, {.maximum = 60});
  EXPECT_NEAR(panel.gammaScale(), 27.0 / 60, 1e-6);
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.6f);
  EXPECT_TRUE(scope.traced("display 1: hardware cannot be driven: gamma stands in"));
  // The window says why in the backlight's own words, not the monitors'.
  EXPECT_EQ(status(panel.id()), "control_backlight_permission");
  for (const char* language : {"en", "ja"}) {
    L10n::setPreferredLanguage(language);
    const std::string text = L10n::text("control_backlight_permission");
    EXPECT_NE(text.find("logind"), std::string::npos);
    EXPECT_NE(text.find("video"), std::string::npos);
    EXPECT_EQ(text.find("i2c"), std::string::npos);
  }
  L10n::resetForTesting();

  drive(100, {panel.id()}, {.maximum = 60});
  EXPECT_EQ(panel.gammaScale(), 1.0);

  // Once the panel may be written, the retry takes over and the table goes back.
  drive(40, {panel.id()}, {.maximum = 60});
  panel.setStatus = BacklightStatus::ok;
  loop.advance(60);
  EXPECT_FALSE(controller.gammaStandsIn(panel.id()));
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.27f);
  EXPECT_EQ(panel.gammaScale(), 1.0);
  EXPECT_EQ(status(panel.id()), "control_hardware");
}

TEST_F(GammaStandInTest, OnlyCausesThatLastStandInAndADisplayChangeTriesTheHardwareAfresh) {
  auto& noChannel = machine.addExternalMonitor();
  noChannel.i2cBus.reset();
  auto& held = machine.addExternalMonitor();
  held.busHeldElsewhere = true;
  auto& silent = machine.addExternalMonitor();
  silent.failWrites();
  silent.faultStatus = I2CStatus::noAnswer;

  drive(50, {noChannel.id(), held.id(), silent.id()});
  EXPECT_TRUE(controller.gammaStandsIn(noChannel.id()));
  EXPECT_NEAR(noChannel.gammaScale(), 0.525, 1e-6);
  EXPECT_FALSE(controller.gammaStandsIn(held.id()));  // its value arrives once the bus is free
  EXPECT_EQ(held.gammaScale(), 1.0);
  EXPECT_FALSE(controller.gammaStandsIn(silent.id()));

  // A display leaving the driven set gets its table back and is forgotten.
  drive(50, {held.id()});
  EXPECT_EQ(noChannel.gammaScale(), 1.0);
  EXPECT_FALSE(controller.gammaStandsIn(noChannel.id()));

  drive(50, {noChannel.id()});
  EXPECT_TRUE(controller.gammaStandsIn(noChannel.id()));
  controller.invalidateDisplayState();
  EXPECT_FALSE(controller.gammaStandsIn(noChannel.id()));
  EXPECT_EQ(noChannel.gammaScale(), 1.0);
  noChannel.i2cBus = 30;
  drive(50, {noChannel.id()});
  EXPECT_EQ(noChannel.vcpCurrent(), 53);
  EXPECT_EQ(noChannel.gammaScale(), 1.0);
}

TEST_F(GammaStandInTest, AChannelThatKnowsItCannotBeDrivenLetsGammaStandInUntilTheRetry) {
  auto& monitor = machine.addExternalMonitor({.brightness = 70});
  controller.standInWithGamma(monitor.id());
  drive(40, {monitor.id()}, {.maximum = 70});
  EXPECT_EQ(monitor.acceptedWrites(), 0);
  EXPECT_NEAR(monitor.gammaScale(), (5 + 0.4 * 65) / 70, 1e-6);
  // The retry's write goes through, which ends the stand-in.
  loop.advance(DDCBrightnessController::kFirstRetrySeconds);
  EXPECT_EQ(monitor.vcpCurrent(), 31);
  EXPECT_EQ(monitor.gammaScale(), 1.0);
  EXPECT_FALSE(controller.gammaStandsIn(monitor.id()));
}
}  // namespace
