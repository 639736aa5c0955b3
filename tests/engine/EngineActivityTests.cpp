// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cmath>
#include <limits>

#include "EngineTestSupport.hpp"

// Pauses, restore, manual levels, sleep, monitors that reset themselves and media playback.
class EngineActivity : public StartedEngine {
 protected:
  double secondsUntilPauseEnds() const {
    return std::chrono::duration<double>(*engine->pauseUntil.get() - loop.now()).count();
  }
  void sleepAndWake() {
    notifications.willSleep.emit();
    loop.runPending();
    notifications.didWake.emit();
    loop.runPending();
  }
};

TEST_F(EngineActivity, PauseHoldsTheManualLevelAndDimmingRestartsFromItsEnd) {
  stepStore->manualBrightnessPercent = 90;
  engine->pauseDimming(30);
  EXPECT_NEAR(secondsUntilPauseEnds(), 1800, 1e-6);
  EXPECT_DOUBLE_EQ(lastLevel(), 90);
  idleFor(1799);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 90);
  idleFor(1.1);
  EXPECT_FALSE(engine->pauseUntil.get());
  idleFor(178);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 90);
  idleFor(8);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 63);

  // An endless pause is capped rather than overflowing the time point; a
  // pause of no length is refused.
  engine->pauseDimming(std::numeric_limits<double>::infinity());
  EXPECT_NEAR(secondsUntilPauseEnds(), 1e6 * 60, 1);
  idleFor(700);
  engine->resumeAutomaticDimming();  // ends it at once, and the idle clock restarts
  EXPECT_FALSE(engine->pauseUntil.get());
  EXPECT_DOUBLE_EQ(lastLevel(), 90);
  engine->pauseDimming(-5);
  EXPECT_FALSE(engine->pauseUntil.get());
}

TEST_F(EngineActivity, RestoreHoldsEveryDisplayAtItsMaximumForFiveMinutes) {
  stepStore->manualBrightnessPercent = 60;
  stepStore->requestSave();  // so that the restore's 100 is a change the file sees
  idleFor(610);
  const auto saves = stepStore->completedSaveCount();
  engine->restoreBrightness();
  EXPECT_EQ(controller->restores, 1);
  EXPECT_TRUE(engine->recoveryActive());
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 100);
  EXPECT_EQ(stepStore->completedSaveCount(), saves + 1);
  EXPECT_NEAR(secondsUntilPauseEnds(), 300, 1e-6);
  EXPECT_EQ(machine.display(1).vcpCurrent(), 100);
  EXPECT_EQ(machine.display(2).vcpCurrent(), 100);

  const auto applies = applyCount();
  idleFor(299);
  EXPECT_EQ(applyCount(), applies);
  EXPECT_EQ(machine.display(1).vcpCurrent(), 100);
  idleFor(1.3);  // the first tick after the end, up to one resting interval later
  EXPECT_FALSE(engine->recoveryActive());
  idleFor(187);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 70);
}

TEST_F(EngineActivity, ManualDragHoldsTheLevelAndWritesTheFileOnceAtTheEnd) {
  idleFor(181);
  ASSERT_TRUE(engine->fadeTransition());
  const auto saves = stepStore->completedSaveCount();
  engine->beginManualAdjustment();
  EXPECT_FALSE(engine->fadeTransition()) << "a fade under way ends at the first touch";
  for (const double value : {90.0, 75.0, 60.0}) {
    engine->setManualBrightness(value);
    idleFor(100);
  }
  idleFor(300);  // long enough to dim, but the drag holds the level
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 60);
  EXPECT_EQ(stepStore->completedSaveCount(), saves);
  engine->endManualAdjustment();
  EXPECT_EQ(stepStore->completedSaveCount(), saves + 1);
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 60);
  idleFor(187);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 42);

  for (const auto& [given, stored] : {std::pair{150.0, 100.0}, {-4.0, 0.0},
                                      {std::numeric_limits<double>::quiet_NaN(), 100.0}}) {
    engine->setManualBrightness(given);
    EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, stored) << given;
    EXPECT_DOUBLE_EQ(lastLevel(), stored) << given;
  }
}

TEST_F(EngineActivity, SleepStopsTheTimerAndWakeRefreshesDisplaysAndRestartsIt) {
  idleFor(183);
  ASSERT_TRUE(engine->fadeTransition());
  notifications.willSleep.emit();
  loop.runPending();
  EXPECT_TRUE(loop.activeRepeatingTimers().empty());
  EXPECT_FALSE(engine->fadeTransition());
  EXPECT_FALSE(engine->timerInterval());

  machine.addExternalMonitor({.id = 3});
  idle.registerInput();  // the wake itself
  notifications.didWake.emit();
  loop.runPending();
  EXPECT_EQ(displayStore->displays.get().size(), 3u);
  EXPECT_TRUE(engine->isStarted());
  EXPECT_TRUE(loop.activeRepeatingTimers().empty());  // at rest again
  EXPECT_DOUBLE_EQ(lastLevel(), 100);
  idleFor(180.1);
  EXPECT_TRUE(engine->fadeTransition()) << "the next step wakes it again";
}

TEST_F(EngineActivity, MediaPlaybackKeepsTheRestingLevelOnlyWhenTheOptionIsOn) {
  inhibitors.holders = std::vector<Inhibitors::Holder>{{"912 mpv", Inhibitors::What::idle, "Playing video"}};
  powerMonitor->start();
  ASSERT_TRUE(powerMonitor->isMediaPlaybackAssertionActive.get());
  idleFor(610);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 40);
  stepStore->pauseDuringMediaPlayback = true;
  idleFor(0.3);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 100);
  idleFor(2000);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 100);

  // Playback ends: dimming goes on at once.
  inhibitors.set(std::vector<Inhibitors::Holder>{});
  idleFor(6 + 0.5);  // the whole fade
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 20);
}

TEST_F(EngineActivity, WorkPostedForAnEngineThatIsGoneIsDropped) {
  input.sendGlobal(SimInputMonitors::keyDown());
  notifications.willSleep.emit();
  notifications.didWake.emit();
  const auto keyObservers = stepStore->increaseMaxShortcutKey.changed.subscriberCount();
  engine.reset();
  loop.runPending();  // would touch freed memory under the sanitizer if not dropped
  EXPECT_EQ(input.globalMonitorCount(), 0u);
  EXPECT_EQ(notifications.willSleep.subscriberCount(), 0u);
  EXPECT_EQ(stepStore->increaseMaxShortcutKey.changed.subscriberCount(), keyObservers - 1);
}

// Monitors that reset themselves while the machine slept or while unplugged,
// and monitors that are not ready yet when the machine wakes.
TEST_F(EngineActivity, WakeAndReplugWriteEveryDisplayAgainAndAMonitorNotReadyIsRetriedUntilItAnswers) {
  idleFor(1);
  ASSERT_EQ(machine.display(1).vcpCurrent(), 100);
  sleepAndWake();
  // Both monitors came back at their factory level; the engine still means 100.
  machine.display(1).setVCPCurrent(50);
  machine.display(2).setVCPCurrent(75);
  idleFor(1);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 100);
  EXPECT_EQ(machine.display(1).vcpCurrent(), 100);
  EXPECT_EQ(machine.display(2).vcpCurrent(), 100);

  // A monitor not ready after the wake is retried until it answers.
  idleFor(700);  // dimmed to 40 %
  ASSERT_LT(machine.display(1).vcpCurrent(), 100);
  sleepAndWake();  // wake counts as activity: back to 100
  machine.display(1).setVCPCurrent(30);
  machine.display(1).failWrites(4);  // not answering for its first four tries
  idleFor(0.6);
  EXPECT_EQ(machine.display(1).vcpCurrent(), 30);
  EXPECT_EQ(ControlStatusStore::shared().status(1), "control_ddc_silent");
  EXPECT_EQ(machine.display(2).vcpCurrent(), 100);
  idleFor(1 + 2 + 4);  // the engine rests at 100 meanwhile; the controller keeps trying
  EXPECT_EQ(machine.display(1).vcpCurrent(), 100);
  EXPECT_EQ(ControlStatusStore::shared().status(1), "control_hardware");

  // A monitor plugged back in gets the current level again.
  idleFor(700);
  const auto dimmed = machine.display(2).vcpCurrent();
  machine.disconnect(2);
  displaysChanged();
  machine.display(2).setVCPCurrent(100);  // it forgot while unplugged
  machine.connect(2);
  displaysChanged();
  EXPECT_EQ(machine.display(2).vcpCurrent(), dimmed);
}
