// SPDX-License-Identifier: GPL-3.0-or-later
// Real monitors on their buses: pacing, a bus another program holds, monitors
// without a channel, and the failures a user can fix.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "display/ControlTestSupport.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "services/L10n.hpp"

namespace {

class MonitorBusTest : public DrivenControllerTest {
 protected:
  MonitorBusTest() {
    limits = {.minimum = 0, .safety = 1};
    endStartup();
  }

  // Levels map onto 1...100 (the floor is 1): logical 40 is 40.6, written as 41.
  // A linear fade of `seconds` at `fps`, one apply per frame, then a second at rest.
  void fade(double from, double to, double seconds, double fps, const std::set<DisplayID>& ids) {
    const int frames = static_cast<int>(std::lround(seconds * fps));
    for (int frame = 1; frame <= frames; ++frame) {
      loop.advance(1 / fps);
      drive(from + (to - from) * frame / frames, ids);
    }
    loop.advance(1);
  }
  // Smallest time between two Set VCP messages to one monitor, on bus time.
  double smallestSpacing(DisplayID id) {
    const auto writes = machine.i2cLog(id, true);
    double smallest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 1; i < writes.size(); ++i) smallest = std::min(smallest, writes[i].time - writes[i - 1].time);
    return smallest;
  }
};

TEST_F(MonitorBusTest, AFastFadeNeverOutrunsTheMonitorAndEndsOnItsLastValue) {
  // Monitors that ignore messages within 50 ms of the last one; a 1 s fade
  // drops one or two steps a frame, so the plain rules would write every frame.
  for (const double fps : {24.0, 60.0}) {
    auto& monitor = machine.addExternalMonitor({.brightness = 100});
    monitor.minimumMessageIntervalMicroseconds = 50'000;
    drive(100, {monitor.id()});
    fade(100, 0, 1, fps, {monitor.id()});
    EXPECT_EQ(monitor.droppedMessages(), 0) << fps;
    EXPECT_EQ(monitor.vcpCurrent(), 1) << fps;  // the floor: the fade's last value arrived
    EXPECT_GE(smallestSpacing(monitor.id()), DDCTransport::kMessageIntervalSeconds - 1e-9) << fps;
    // The write at 100, then at most one per interval or frame, whichever is longer.
    EXPECT_LE(monitor.acceptedWrites(), std::min(fps, 1 / DDCTransport::kMessageIntervalSeconds) + 2) << fps;
    EXPECT_FALSE(controller.hasPendingWrite());
  }
}

TEST_F(MonitorBusTest, WritesReadsAndRetriesOnAPacedBusWaitOutTheInterval) {
  auto& monitor = machine.addExternalMonitor({.brightness = 100});
  monitor.minimumMessageIntervalMicroseconds = 50'000;
  const double asked = loop.uptime();
  ASSERT_TRUE(writeAnswered(loop, monitor.id(), 80));  // a bus's first message waits a moment
  EXPECT_NEAR(machine.i2cLog(monitor.id())[0].time - asked, DDCTransport::kFirstMessageWaitSeconds, 1e-9);
  EXPECT_NEAR(DDCTransport::messageWait(monitor.id()), DDCTransport::kMessageIntervalSeconds, 1e-9);
  loop.advance(0.02);
  EXPECT_FALSE(writeAnswered(loop, monitor.id(), 70));  // 30 ms of the interval left: nothing sent
  EXPECT_TRUE(scope.traced("display 1: bus not free for another 30 ms"));
  loop.advance(0.03);
  ASSERT_TRUE(writeAnswered(loop, monitor.id(), 30));
  EXPECT_EQ(machine.i2cLog(monitor.id()).size(), 2u);
  EXPECT_EQ(monitor.vcpCurrent(), 30);

  // A read right after the write waits for the bus instead of being ignored.
  std::optional<double> percent;
  const auto read = DDCIO::readBrightness(monitor.id(), [&](const auto& r) { percent = r.percent; });
  EXPECT_EQ(machine.i2cLog(monitor.id()).size(), 2u);
  loop.advance(0.1);
  EXPECT_EQ(percent, 30.0);
  EXPECT_NEAR(machine.i2cLog(monitor.id())[2].time - machine.i2cLog(monitor.id())[1].time, 0.05, 1e-9);

  // A write the monitor missed is tried again after the interval, not at once.
  loop.advance(1);
  monitor.failWrites(1);
  monitor.faultStatus = I2CStatus::noAnswer;
  drive(20, {monitor.id()});
  EXPECT_EQ(monitor.vcpCurrent(), 30);
  EXPECT_EQ(status(monitor.id()), "control_unchecked");  // one miss is no failure yet
  loop.advance(DDCTransport::kMessageIntervalSeconds);
  EXPECT_EQ(monitor.vcpCurrent(), 21);
  EXPECT_EQ(status(monitor.id()), "control_hardware");
  EXPECT_EQ(monitor.droppedMessages(), 0);
}

TEST_F(MonitorBusTest, ABusAnotherProgramHoldsIsNeverWaitedForAndTheValueAndARestoreStillArrive) {
  auto& monitor = machine.addExternalMonitor({.brightness = 100});
  monitor.busHeldElsewhere = true;
  drive(40, {monitor.id()});
  EXPECT_EQ(machine.i2cLog(monitor.id()).size(), 1u);  // one try, no second attempt, no waiting
  EXPECT_EQ(status(monitor.id()), "control_unchecked");  // not the monitor's fault
  EXPECT_TRUE(scope.traced("display 1: bus busy, next attempt in 0.05 s"));
  EXPECT_TRUE(DDCIO::cachedDisplayInfos().contains(monitor.id()));  // the bus is still the right one

  loop.advance(1);  // tried again, backing off, still held
  EXPECT_GT(machine.i2cLog(monitor.id()).size(), 2u);
  EXPECT_LT(machine.i2cLog(monitor.id()).size(), 10u);
  EXPECT_EQ(monitor.vcpCurrent(), 100);

  monitor.busHeldElsewhere = false;  // the other program is done; nobody applies anything new
  loop.advance(1);
  EXPECT_EQ(monitor.vcpCurrent(), 41);
  EXPECT_EQ(status(monitor.id()), "control_hardware");

  // A restore that finds the bus held delivers the maximum later.
  monitor.busHeldElsewhere = true;
  loop.advance(1);
  controller.restoreBrightness({monitor.id()}, {{monitor.id(), 90}}, {}, 5);
  EXPECT_EQ(monitor.vcpCurrent(), 41);
  monitor.busHeldElsewhere = false;
  loop.advance(0.2);
  EXPECT_EQ(monitor.vcpCurrent(), 90);
  EXPECT_EQ(status(monitor.id()), "control_hardware");
}

TEST_F(MonitorBusTest, ADisplayWithoutAChannelIsLookedUpAgainAtEachRetryUntilItHasOne) {
  auto& noChannel = machine.addExternalMonitor();
  noChannel.i2cBus.reset();  // no bus known yet, as before the i2c-dev module is loaded
  auto& healthy = machine.addExternalMonitor();
  const int reads = machine.displayReads();
  fade(100, 50, 6, 24, {noChannel.id(), healthy.id()});
  EXPECT_EQ(machine.displayReads() - reads, 3);  // a first look, then one per retry (after 1 and 3 s), not per frame
  EXPECT_EQ(status(noChannel.id()), "control_no_bus");
  EXPECT_FALSE(DDCIO::cachedDisplayInfos().contains(noChannel.id()));
  EXPECT_EQ(healthy.vcpCurrent(), 51);

  noChannel.i2cBus = 30;  // it has one now, and the display list did not change
  loop.advance(1);        // the retry after 7 s
  EXPECT_EQ(noChannel.vcpCurrent(), 51);
  EXPECT_EQ(status(noChannel.id()), "control_hardware");
}

TEST_F(MonitorBusTest, CausesTheUserCanFixAreNamedInTheStatusAndTriedOncePerRetry) {
  const std::vector<std::pair<I2CStatus, std::string>> causes = {
      {I2CStatus::noModule, "control_i2c_missing"},
      {I2CStatus::noAccess, "control_i2c_permission"},
      {I2CStatus::claimedByDriver, "control_ddcci_driver"},
      {I2CStatus::noAnswer, "control_ddc_silent"}};
  for (const auto& [code, key] : causes) {
    auto& monitor = machine.addExternalMonitor();
    monitor.failWrites();
    monitor.faultStatus = code;
    drive(50, {monitor.id()});
    // A second attempt cannot load a module or grant access; a silent monitor gets one.
    if (code == I2CStatus::noAnswer) loop.advance(DDCTransport::kMessageIntervalSeconds);
    EXPECT_EQ(status(monitor.id()), key);
    EXPECT_EQ(machine.i2cLog(monitor.id()).size(), code == I2CStatus::noAnswer ? 2u : 1u) << key;
    EXPECT_NEAR(controller.retryDelay(monitor.id()).value_or(0), DDCBrightnessController::kFirstRetrySeconds, 1e-9);

    // The window shows each status in both languages.
    for (const char* language : {"en", "ja"}) {
      L10n::setPreferredLanguage(language);
      EXPECT_NE(L10n::text(key), key);
    }
    L10n::resetForTesting();

    monitor.failWrites(0);  // fixed: the retry succeeds by itself
    loop.advance(1);
    EXPECT_EQ(status(monitor.id()), "control_hardware");
    controller.apply(50, {}, {}, {}, {}, 1);  // next cause on a display of its own
  }
}

}  // namespace

TEST_F(MonitorBusTest, AMonitorThatStretchesItsTransfersGetsOnlyTheNewestValueAndHoldsUpNoOtherDisplay) {
  auto& slow = machine.addExternalMonitor({.brightness = 100});
  auto& quick = machine.addExternalMonitor({.brightness = 100});
  slow.transferMicroseconds = 100'000;
  drive(100, {slow.id(), quick.id()});
  // A 1 s fade at 60 frames per second: a value asked for while the slow bus
  // is busy replaces the one before it, so no backlog builds up.
  fade(100, 0, 1, 60, {slow.id(), quick.id()});
  const double lastFrame = loop.uptime() - 1;
  const auto writes = machine.i2cLog(slow.id(), true);
  for (std::size_t i = 1; i < writes.size(); ++i)
    EXPECT_GE(writes[i].time - writes[i - 1].time, 0.15 - 1e-9);  // each transfer, then the bus interval
  EXPECT_LE(writes.size(), 1 / 0.15 + 2);
  EXPECT_EQ(slow.vcpCurrent(), 1);  // the fade's last value, not one from a queue
  EXPECT_LE(writes.back().time, lastFrame + 0.2 + 1e-9);  // a transfer under way, the interval, a turn of the deferral
  EXPECT_EQ(quick.vcpCurrent(), 1);
  EXPECT_GT(machine.i2cLog(quick.id(), true).size(), writes.size());  // the quick bus kept its own pace

  // A key during the slow monitor's transfer: the other display is restored at once.
  drive(20, {slow.id(), quick.id()});
  loop.advance(0.06);  // the quick bus's interval is over, the slow transfer is not
  const double key = loop.uptime();
  controller.restoreBrightness({slow.id(), quick.id()}, {{slow.id(), 100}, {quick.id(), 100}}, {}, 1);
  loop.runPending();
  EXPECT_EQ(quick.vcpCurrent(), 100);
  EXPECT_NEAR(machine.i2cLog(quick.id(), true).back().time, key, 1e-6);
  EXPECT_NE(slow.vcpCurrent(), 100);  // its bus is still busy
  loop.advance(0.3);
  EXPECT_EQ(slow.vcpCurrent(), 100);
  EXPECT_EQ(status(slow.id()), "control_hardware");
}

TEST_F(MonitorBusTest, AWriteWhoseOwnerIsGoneIsNotAnsweredToIt) {
  auto& slow = machine.addExternalMonitor({.brightness = 100});
  slow.transferMicroseconds = 100'000;
  {
    DDCBrightnessController shortLived(controllerPorts());
    shortLived.invalidateDisplayState();
    shortLived.apply(50, {slow.id()}, {{slow.id(), 100}}, {{slow.id(), 0}}, {}, 1);
  }
  loop.advance(0.2);  // the transfer ends on the bus; nobody is called back
  EXPECT_EQ(slow.vcpCurrent(), 51);
  EXPECT_EQ(DDCTransport::messageWait(slow.id()), 0);  // the bus's pace is kept all the same
  EXPECT_EQ(status(slow.id()), "control_unchecked");
}
