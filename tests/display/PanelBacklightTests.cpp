// SPDX-License-Identifier: GPL-3.0-or-later
// The built-in panel as laptop users meet it: its own level at rest, set with
// the desktop's brightness keys, and a backlight with thousands of levels.
#include <algorithm>
#include <cmath>
#include <set>

#include "display/ControlTestSupport.hpp"

namespace {

class PanelBacklightTest : public DrivenControllerTest {
 protected:
  // A 2 s ease-out fade at 24 frames per second, one apply per frame,
  // starting after 10 idle seconds.
  void fade(double from, double to, const std::set<DisplayID>& ids, const Limits& given = {}) {
    loop.advance(10);
    const int frames = 48;
    for (int frame = 1; frame <= frames; ++frame) {
      loop.advance(1.0 / 24);
      const double progress = static_cast<double>(frame) / frames;
      drive(from + (to - from) * (1 - (1 - progress) * (1 - progress)), ids, given);
    }
    loop.advance(1);
  }
  // The highest level written to the panel since the log was cleared.
  float highestWritten(DisplayID id) const {
    float highest = 0;
    for (const auto& write : machine.panelLog())
      if (write.displayID == id && write.status == BacklightStatus::ok) highest = std::max(highest, write.level);
    return highest;
  }
  int writesTo(DisplayID id) const {
    return static_cast<int>(std::count_if(machine.panelLog().begin(), machine.panelLog().end(),
                                          [id](const auto& write) { return write.displayID == id; }));
  }
};

TEST_F(PanelBacklightTest, ADimStartsFromThePanelsOwnLevelAndTheKeyPutsItBack) {
  auto& panel = machine.addBuiltInPanel({.level = 0.6f, .backlightSteps = 96000});
  auto& early = machine.addBuiltInPanel({.level = 0.6f, .backlightSteps = 96000});
  drive(100, {panel.id(), early.id()});  // launch: nothing written
  EXPECT_EQ(writesTo(panel.id()), 0);
  EXPECT_EQ(writesTo(early.id()), 0);

  // The 40 % step over 5...60: 27 %, never above 60 % on the way. Keys pressed
  // before the first dim set the level it starts from: 40 % of 5...50.
  early.setPanelLevel(0.5f);
  fade(100, 40, {panel.id(), early.id()});
  EXPECT_LE(highestWritten(panel.id()), 0.6f);
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.27f);
  EXPECT_FLOAT_EQ(early.panelLevel(), 0.23f);
  drive(100, {panel.id(), early.id()});
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.6f);
  EXPECT_FLOAT_EQ(early.panelLevel(), 0.5f);

  // The desktop's brightness keys set 50 % while the user is active: kept.
  loop.advance(3);  // past the return's watch
  panel.setPanelLevel(0.5f);
  machine.clearLogs();
  fade(100, 40, {panel.id()});
  EXPECT_LE(highestWritten(panel.id()), 0.5f);
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.23f);
  drive(100, {panel.id()});
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.5f);
  EXPECT_TRUE(scope.traced("display 1: panel set to 50% meanwhile: dimming from there"));

  // A change while dimmed is a wake-up, not a new level: the key restores 50 %.
  fade(100, 40, {panel.id()});
  panel.setPanelLevel(0.3f);
  drive(100, {panel.id()});
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.5f);
}

TEST_F(PanelBacklightTest, WhileTheUserIsAwayAnotherProgramsLevelIsNeitherTheirsNorBrightenedNorKept) {
  auto& panel = machine.addBuiltInPanel({.level = 0.6f, .backlightSteps = 96000});
  drive(100, {panel.id()});
  controller.setUserAway(true);
  // The desktop's dimmer sets 20 %: the 40 % step (27 %) leaves it, the 10 %
  // step (10.5 %) goes on from the user's 60 % and writes only below it.
  panel.setPanelLevel(0.2f);
  machine.clearLogs();
  fade(100, 40, {panel.id()});
  EXPECT_EQ(writesTo(panel.id()), 0);
  fade(40, 10, {panel.id()});
  EXPECT_LT(highestWritten(panel.id()), 0.2f);
  EXPECT_NEAR(panel.panelLevel(), 0.105, 1e-6);

  // Back: the user's level. The panel is read for two seconds, then no more.
  controller.setUserAway(false);
  drive(100, {panel.id()});
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.6f);
  panel.levelReads = 0;
  machine.clearLogs();
  loop.advance(10);
  EXPECT_GT(panel.levelReads, 0);
  EXPECT_LE(panel.levelReads, 21);
  EXPECT_EQ(writesTo(panel.id()), 0);

  // A dimmer that saved our 27 % and puts it back after the return is undone once.
  controller.setUserAway(true);
  fade(100, 40, {panel.id()});
  controller.setUserAway(false);
  drive(100, {panel.id()});
  loop.advance(0.5);
  panel.setPanelLevel(0.27f);
  machine.clearLogs();
  loop.advance(0.15);
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.6f);
  panel.setPanelLevel(0.27f);  // a second time: the dimmer's, or anyone's, to keep
  loop.advance(10);
  EXPECT_EQ(writesTo(panel.id()), 1);
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.27f);
}

TEST_F(PanelBacklightTest, TheWindowsMaximumStillCapsThePanelAndALowerMasterLevelScalesFromItsLevel) {
  auto& panel = machine.addBuiltInPanel({.level = 0.6f, .backlightSteps = 19393});
  controller.invalidateDisplayState();  // past the launch phase
  drive(100, {panel.id()}, {.maximum = 40});
  EXPECT_NEAR(panel.panelLevel(), 0.4, 1e-4);
  fade(100, 40, {panel.id()}, {.maximum = 40});
  EXPECT_NEAR(panel.panelLevel(), 0.19, 1e-4);  // 40 % of 5...40
  drive(100, {panel.id()});
  EXPECT_NEAR(panel.panelLevel(), 0.6, 1e-4);  // the window let go: the panel's own level again

  // At a master level of 80 the panel rests at 80 % of 5...60; keys that set
  // it to 50 % there make the next dim start from 50 % and return to it.
  drive(80, {panel.id()});
  EXPECT_NEAR(panel.panelLevel(), 0.49, 1e-4);
  panel.setPanelLevel(0.5f);
  fade(80, 32, {panel.id()});
  EXPECT_LT(panel.panelLevel(), 0.5f);
  drive(80, {panel.id()});
  EXPECT_NEAR(panel.panelLevel(), 0.5, 1e-4);
}

TEST_F(PanelBacklightTest, ABacklightIsWrittenAtItsOwnResolutionAndMonitorsKeepWholePercents) {
  auto& panel = machine.addBuiltInPanel({.level = 1.0f, .backlightSteps = 19393});
  auto& monitor = machine.addExternalMonitor({.brightness = 100});
  controller.invalidateDisplayState();
  drive(100, {panel.id(), monitor.id()});
  machine.clearLogs();

  fade(100, 40, {panel.id(), monitor.id()});
  // One value per frame on the panel, each a whole level of its own...
  EXPECT_EQ(writesTo(panel.id()), 48);
  for (const auto& write : machine.panelLog()) {
    const double levels = write.level * 19393.0;
    EXPECT_NEAR(levels, std::round(levels), 1e-2);
  }
  EXPECT_NEAR(panel.panelLevel(), 0.43, 1e-4);
  // ...while the monitor keeps whole percents and its one-step pacing.
  EXPECT_LT(machine.i2cLog(monitor.id(), true).size(), 40u);
  EXPECT_EQ(monitor.vcpCurrent(), 43);

  // A backlight with few levels is written only when its level changes.
  auto& coarse = machine.addBuiltInPanel({.level = 1.0f, .backlightSteps = 7});
  controller.invalidateDisplayState();
  drive(100, {coarse.id()});
  machine.clearLogs();
  fade(100, 40, {coarse.id()});
  EXPECT_LE(writesTo(coarse.id()), 4);
  EXPECT_FLOAT_EQ(coarse.panelLevel(), 3.0f / 7);
}

}  // namespace
