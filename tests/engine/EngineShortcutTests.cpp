// SPDX-License-Identifier: GPL-3.0-or-later
#include "EngineTestSupport.hpp"

namespace {
using Modifier = GlobalShortcuts::Modifier;
const GlobalShortcuts::Combination kF1{"F1", {Modifier::control, Modifier::alt, Modifier::shift}};
const GlobalShortcuts::Combination kF2{"F2", {Modifier::control, Modifier::alt, Modifier::shift}};
const GlobalShortcuts::Combination kR{"r", {Modifier::control, Modifier::alt}};
}  // namespace

// Hot keys, brightness keys, the deferred save and previews.
class EngineShortcuts : public StartedEngine {
 protected:
  void press(const GlobalShortcuts::Combination& combination) { ASSERT_TRUE(shortcuts.press(combination)); }
};

TEST_F(EngineShortcuts, ABurstOfPressesIsSavedOnceAfterTheLastOneOrAtOnceBeforeSleep) {
  engine->setManualBrightness(60);
  const auto saves = stepStore->completedSaveCount();
  for (const double expected : {65.0, 70.0, 75.0}) {
    press(kF2);
    EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), expected);
    EXPECT_EQ(hudPanel.valueText(), std::to_string(static_cast<int>(expected)) + "%");
    EXPECT_TRUE(hudPanel.isVisible());
    idleFor(0.2);
  }
  EXPECT_EQ(stepStore->completedSaveCount(), saves);
  idleFor(0.14);
  EXPECT_EQ(stepStore->completedSaveCount(), saves);
  idleFor(0.02);
  EXPECT_EQ(stepStore->completedSaveCount(), saves + 1);
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 75);

  // Presses further apart are saved one by one.
  for (int i = 0; i < 2; ++i) {
    press(kF1);
    idleFor(0.5);
  }
  EXPECT_EQ(stepStore->completedSaveCount(), saves + 3);

  // Sleep in the middle of a burst saves at once and only once.
  press(kF1);
  press(kF1);
  notifications.willSleep.emit();
  loop.runPending();
  EXPECT_EQ(stepStore->completedSaveCount(), saves + 4);
  EXPECT_FALSE(engine->shortcutEditActive());
  idleFor(1);
  EXPECT_EQ(stepStore->completedSaveCount(), saves + 4);
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 55);

  // Termination writes a pending burst synchronously.
  press(kF1);
  notifications.willTerminate.emit();
  EXPECT_EQ(stepStore->completedSaveCount(), saves + 5);
}

TEST_F(EngineShortcuts, PressesStartFromTheShownLevelAndStopAtTheEnds) {
  idleFor(610);
  ASSERT_DOUBLE_EQ(engine->currentBrightnessPercent(), 40);
  press(kF2);
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 45);

  engine->setManualBrightness(98);
  press(kF2);
  EXPECT_DOUBLE_EQ(lastLevel(), 100);
  const auto applies = applyCount();
  hudPanel.setValueText("");
  press(kF2);
  EXPECT_EQ(applyCount(), applies);  // nothing to change, but the panel confirms
  EXPECT_EQ(hudPanel.valueText(), "100%");

  engine->setManualBrightness(3);
  press(kF1);
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 0);
}

TEST_F(EngineShortcuts, BrightnessKeysWithControlOptionAreShortcutsOnlyWhenChosen) {
  stepStore->increaseMaxShortcutKey = "brightness_up";
  stepStore->manualBrightnessPercent = 50;
  engine->applyCurrentBrightness();
  idleFor(100);
  // Inside the application the key is swallowed and is not activity.
  EXPECT_TRUE(input.sendLocal(SimInputMonitors::brightnessKey(true, true)));
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 55);
  EXPECT_FALSE(input.sendLocal(SimInputMonitors::brightnessKey(true, true, false)));  // key up
  EXPECT_FALSE(input.sendLocal(SimInputMonitors::brightnessKey(true, false)));
  EXPECT_FALSE(input.sendLocal(SimInputMonitors::brightnessKey(false, true)));  // decrease stays on f1
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 55);

  // Seen in another application: handled the same way, after a hop onto the loop.
  input.sendGlobal(SimInputMonitors::brightnessKey(true, true));
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 55);
  loop.runPending();
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 60);

  stepStore->increaseMaxShortcutKey = "f2";
  EXPECT_FALSE(input.sendLocal(SimInputMonitors::brightnessKey(true, true)));
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 60);
}

TEST_F(EngineShortcuts, KeyChangesReRegisterOnceASwapIsNoFailureAndTheRestoreKeyFollowsItsRegistration) {
  ScopedLogRecorder log;
  const int before = shortcuts.registerCalls();
  stepStore->increaseMaxShortcutKey = "U";  // corrected to "u" by the store's rule
  loop.runPending();
  EXPECT_EQ(shortcuts.registerCalls(), before + 3);  // one update: restore and both keys

  // A reset swaps the keys back; in between both would be "f2".
  stepStore->increaseMaxShortcutKey = "f1";
  stepStore->decreaseMaxShortcutKey = "f2";
  loop.runPending();
  const int swapped = shortcuts.registerCalls();
  stepStore->resetToDefaults({1, 2});
  loop.runPending();
  EXPECT_EQ(shortcuts.registerCalls(), swapped + 3);
  EXPECT_TRUE(log->messages(LogCategory::app).empty()) << log->messages(LogCategory::app).front();
  press(kF2);  // f2 raises again
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 100);
  press(kF1);
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 95);

  // Assigning the same keys again registers nothing.
  stepStore->increaseMaxShortcutKey = "f2";
  loop.runPending();
  EXPECT_EQ(shortcuts.registerCalls(), swapped + 3);

  EXPECT_TRUE(engine->restoreShortcutAvailable.get());
  press(kR);
  EXPECT_TRUE(engine->recoveryActive());
  EXPECT_EQ(controller->restores, 1);

  engine.reset();
  shortcuts.takenByOthers.push_back(kR);
  makeEngine();
  EXPECT_FALSE(engine->restoreShortcutAvailable.get());
  shortcuts.takenByOthers.clear();
  stepStore->decreaseMaxShortcutKey = "j";  // any change re-registers all, on the next turn
  loop.runPending();
  EXPECT_TRUE(engine->restoreShortcutAvailable.get());

  engine.reset();
  shortcuts.refuseEvery = GlobalShortcuts::Refusal::connectionLost;
  makeEngine();
  EXPECT_FALSE(engine->restoreShortcutAvailable.get());
}

TEST_F(EngineShortcuts, StepPreviewHoldsTheSliderAndEndsAtTheRestingLevel) {
  engine->setManualBrightness(80);
  engine->previewBrightness(30);
  engine->previewBrightness(35);
  EXPECT_DOUBLE_EQ(lastLevel(), 35);
  EXPECT_DOUBLE_EQ(engine->masterPresentation.percent.get(), 80);
  const auto applies = applyCount();
  idleFor(700);
  pressKeyElsewhere();
  EXPECT_EQ(applyCount(), applies);  // neither ticks nor input end a preview
  press(kF2);                        // a shortcut starts from the shown level
  EXPECT_DOUBLE_EQ(stepStore->manualBrightnessPercent, 85);
  EXPECT_FALSE(engine->previewBrightnessPercent());

  engine->previewBrightness(250);
  EXPECT_DOUBLE_EQ(lastLevel(), 100);
  engine->endBrightnessPreview();
  EXPECT_DOUBLE_EQ(lastLevel(), 85);
  EXPECT_DOUBLE_EQ(engine->masterPresentation.percent.get(), 85);
}

TEST_F(EngineShortcuts, DisplayPreviewTouchesOnlyItsDisplay) {
  // Display 2 is dimmed through gamma alone; the preview of display 1 must not undo it.
  stepStore->setDisplayUsesFullGammaMode(true, 2);
  engine->setManualBrightness(60);
  const double otherScale = machine.display(2).gammaScale();
  ASSERT_LT(otherScale, 0.99);
  const auto otherBefore = machine.display(2).vcpCurrent();
  machine.clearLogs();
  engine->previewDisplayActualBrightness(12, 1);
  loop.advance(0.05);  // the monitor's bus is ready again
  EXPECT_EQ(machine.display(1).vcpCurrent(), 12);
  EXPECT_EQ(machine.display(2).vcpCurrent(), otherBefore);
  EXPECT_DOUBLE_EQ(machine.display(2).gammaScale(), otherScale);
  for (const auto& write : machine.gammaLog()) EXPECT_NE(write.displayID, 2u);
  EXPECT_DOUBLE_EQ(engine->masterPresentation.percent.get(), 60);
  idleFor(700);  // held
  EXPECT_EQ(machine.display(1).vcpCurrent(), 12);

  // Below the safety floor the preview still stops at the floor.
  engine->previewDisplayActualBrightness(-40, 1);
  EXPECT_EQ(machine.display(1).vcpCurrent(), 5);

  const auto applies = applyCount();
  engine->endDisplayActualBrightnessPreview(1);
  ASSERT_EQ(applyCount(), applies + 2);
  EXPECT_EQ(controller->applies[applies].targets, (std::set<DisplayID>{1, 2}));
  EXPECT_EQ(controller->applies[applies + 1].targets, (std::set<DisplayID>{1, 2}));
  // 700 s idle: every display fades from there towards the automatic level.
  ASSERT_TRUE(engine->fadeTransition());
  EXPECT_DOUBLE_EQ(engine->fadeTransition()->to, 24);
  EXPECT_TRUE(machine.i2cLog(2, true).empty());  // display 2 was never written to
  for (const auto& write : machine.gammaLog()) EXPECT_NE(write.displayID, 2u);
}

TEST_F(EngineShortcuts, PreviewsOutlastADisplayPluggedInOrOut) {
  stepStore->setDisplayUsesFullGammaMode(true, 2);
  engine->setManualBrightness(80);
  engine->previewBrightness(30);
  loop.advance(0.1);  // the preview's write waits for the monitor's bus
  const double previewScale = machine.display(2).gammaScale();
  const auto previewValue = machine.display(1).vcpCurrent();
  ASSERT_LT(previewScale, 0.5);
  machine.addExternalMonitor({.id = 3, .brightness = 100});
  displaysChanged(0.6);
  ASSERT_EQ(controller->invalidations, 1);
  EXPECT_DOUBLE_EQ(machine.display(2).gammaScale(), previewScale);  // not put back to full
  EXPECT_EQ(machine.display(1).vcpCurrent(), previewValue);
  machine.disconnect(1);
  displaysChanged(0.6);
  EXPECT_DOUBLE_EQ(machine.display(2).gammaScale(), previewScale);
  engine->endBrightnessPreview();
  EXPECT_GT(machine.display(2).gammaScale(), previewScale);

  // A range preview holds its display's level through a hot-plug too.
  machine.connect(1);
  displaysChanged(0.6);
  engine->previewDisplayActualBrightness(20, 1);
  machine.disconnect(3);
  displaysChanged(0.6);
  EXPECT_EQ(machine.display(1).vcpCurrent(), 20);
  EXPECT_EQ(controller->applies.back().targets, (std::set<DisplayID>{1, 2}));
}

TEST_F(EngineShortcuts, FixedRangeDisplaysAreSelectedOnesWhoseRangeCollapsed) {
  stepStore->setDisplayMaximumPercent(40, 1);
  stepStore->setDisplayMinimumPercent(40, 1);
  stepStore->setDisplayMaximumPercent(40, 2);
  stepStore->setDisplayMinimumPercent(30, 2);
  ASSERT_EQ(engine->fixedRangeDisplays().size(), 1u);
  EXPECT_EQ(engine->fixedRangeDisplays()[0].displayID, 1u);
  stepStore->selectedDisplayIDs = std::set<DisplayID>{2};
  EXPECT_TRUE(engine->fixedRangeDisplays().empty());
}
