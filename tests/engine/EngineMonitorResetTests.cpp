// SPDX-License-Identifier: GPL-3.0-or-later
#include "EngineTestSupport.hpp"

// Monitors that reset themselves while the machine slept or while unplugged,
// and monitors that are not ready yet when the machine wakes.
class EngineMonitorReset : public StartedEngine {
 protected:
  void sleepAndWake() {
    notifications.willSleep.emit();
    loop.runPending();
    notifications.didWake.emit();
    loop.runPending();
  }
};

TEST_F(EngineMonitorReset, WakeWritesEveryDisplayAgainThoughItsValueIsUnchanged) {
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
}

TEST_F(EngineMonitorReset, AMonitorNotReadyAfterWakeIsRetriedUntilItAnswers) {
  idleFor(700);  // dimmed to 40 %
  const auto dimmed = machine.display(1).vcpCurrent();
  ASSERT_LT(dimmed, 100);
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
}

TEST_F(EngineMonitorReset, AMonitorPluggedBackInGetsTheCurrentLevelAgain) {
  idleFor(700);
  const auto dimmed = machine.display(2).vcpCurrent();
  machine.disconnect(2);
  notifications.screenParametersChanged.emit();
  idleFor(1);
  machine.display(2).setVCPCurrent(100);  // it forgot while unplugged
  machine.connect(2);
  notifications.screenParametersChanged.emit();
  idleFor(1);
  EXPECT_EQ(machine.display(2).vcpCurrent(), dimmed);
}
