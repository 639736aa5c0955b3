// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cmath>
#include <limits>

#include "EngineTestSupport.hpp"
#include "engine/RemoteControl.hpp"

// What a script on the session bus reaches: the hot keys' actions, pauses,
// the state it can read, and change notifications no faster than 10 a second.
class RemoteControlTest : public StartedEngine {
 protected:
  RemoteControlTest() {
    notifications_ = remote.propertiesChanged.connect([this](const RemoteControl::Properties& changed) {
      told.push_back({loop.uptime(), changed});
      toldLevels.push_back(remote.currentPercent());
    });
  }
  static bool has(RemoteControl::Properties set, RemoteControl::Property property) {
    return (set & static_cast<unsigned>(property)) != 0;
  }
  std::size_t toldAbout(RemoteControl::Property property) const {
    std::size_t count = 0;
    for (const auto& [at, set] : told) count += has(set, property) ? 1 : 0;
    return count;
  }

  RemoteControl remote{*stepStore, *displayStore, *engine, loop};
  std::vector<std::pair<double, RemoteControl::Properties>> told;
  std::vector<double> toldLevels;  // CurrentPercent as a reader sees it at each notification

 private:
  Subscription notifications_;
};

TEST_F(RemoteControlTest, MasterMethodsDoWhatTheHotKeysDoPanelAndDeferredSaveIncluded) {
  const auto saves = stepStore->completedSaveCount();
  remote.decreaseMaster();
  remote.decreaseMaster();
  EXPECT_DOUBLE_EQ(remote.masterPercent(), 90);
  EXPECT_DOUBLE_EQ(remote.currentPercent(), 90);
  EXPECT_TRUE(hudPanel.isVisible());
  EXPECT_EQ(hudPanel.valueText(), "90%");
  EXPECT_EQ(stepStore->completedSaveCount(), saves);  // a burst is saved once, after it ends
  idleFor(0.4);
  EXPECT_EQ(stepStore->completedSaveCount(), saves + 1);

  remote.increaseMaster();
  remote.increaseMaster();
  remote.increaseMaster();
  EXPECT_DOUBLE_EQ(remote.masterPercent(), 100);
  EXPECT_EQ(hudPanel.valueText(), "100%");  // confirmed at the limit too

  idleFor(700);  // dimmed by the 600 s step
  ASSERT_DOUBLE_EQ(remote.currentPercent(), 40);
  remote.restoreMaximum();
  EXPECT_EQ(controller->restores, 1);
  EXPECT_DOUBLE_EQ(remote.currentPercent(), 100);
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(loop.now().time_since_epoch()).count();
  EXPECT_EQ(remote.pausedUntil(), static_cast<std::uint64_t>(now + 300));
}

TEST_F(RemoteControlTest, BadPauseLengthsAreRefusedWithAReasonAndChangeNothing) {
  engine->setManualBrightness(70);
  idleFor(1);
  const auto applies = applyCount();
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {std::nan(""), "not a number"}, {-5, "more than 0 minutes, not -5"}, {0, "more than 0 minutes, not 0"},
      {-inf, "not -inf"},             {inf, "at most 1000000 minutes, not inf"},
      {2e6, "at most 1000000 minutes, not 2000000"},
      // Just past the limit: the number as given, not one that reads as allowed.
      {1000000.0000001, "at most 1000000 minutes, not 1000000.0000001"},
  };
  for (const auto& [minutes, reason] : cases) {
    const auto refusal = remote.pause(minutes);
    ASSERT_TRUE(refusal) << minutes;
    EXPECT_NE(refusal->find(reason), std::string::npos) << *refusal;
  }
  EXPECT_EQ(remote.pausedUntil(), 0u);
  EXPECT_FALSE(engine->pauseUntil.get());
  EXPECT_EQ(applyCount(), applies);

  EXPECT_FALSE(remote.pause(30));
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(loop.now().time_since_epoch()).count();
  EXPECT_EQ(remote.pausedUntil(), static_cast<std::uint64_t>(now + 1800));
  idleFor(1200);
  EXPECT_DOUBLE_EQ(remote.currentPercent(), 70);  // paused at the master level
  remote.resume();
  EXPECT_EQ(remote.pausedUntil(), 0u);
  idleFor(610);
  EXPECT_DOUBLE_EQ(remote.currentPercent(), 70 * 0.4);
}

TEST_F(RemoteControlTest, AFadeIsToldAtMostTenTimesASecondAndEndsOnTheFinalLevel) {
  stepStore->frameRate = 60;
  idleFor(179.9);
  told.clear();
  idleFor(8);  // the 180 s step's 6 s fade at 60 frames a second
  ASSERT_DOUBLE_EQ(remote.currentPercent(), 70);
  ASSERT_GE(told.size(), 40u);
  for (std::size_t i = 1; i < told.size(); ++i)
    EXPECT_GE(told[i].first - told[i - 1].first, RemoteControl::kMinimumNotificationInterval - 1e-9);
  EXPECT_EQ(toldAbout(RemoteControl::Property::masterPercent), 0u);  // the master level did not move
  // The fade's last frame was told too: a reader is never left on a stale level.
  EXPECT_DOUBLE_EQ(toldLevels.back(), 70);
}

TEST_F(RemoteControlTest, AChangeAtRestOrOfTheDisplaysIsToldOnTheNextTurnAndUnchangedStateIsNeverTold) {
  EXPECT_EQ(remote.displays()[0].controlStatus, "control_unchecked");  // nothing written yet
  idleFor(5);
  told.clear();
  engine->setManualBrightness(80);
  EXPECT_TRUE(told.empty());
  loop.runPending();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(has(told[0].second, RemoteControl::Property::masterPercent));
  EXPECT_TRUE(has(told[0].second, RemoteControl::Property::currentPercent));
  EXPECT_FALSE(has(told[0].second, RemoteControl::Property::pausedUntil));
  idleFor(1);  // the monitors' answers to the writes: their statuses are told
  EXPECT_EQ(toldAbout(RemoteControl::Property::displays), told.size() - 1);
  ASSERT_GT(told.size(), 1u);
  auto displays = remote.displays();
  ASSERT_EQ(displays.size(), 2u);
  EXPECT_FALSE(displays[0].name.empty());
  EXPECT_EQ(displays[0].controlStatus, "control_hardware");
  EXPECT_TRUE(displays[0].selected && displays[1].selected);

  told.clear();
  engine->setManualBrightness(80);  // same level again
  idleFor(1);
  EXPECT_TRUE(told.empty());

  // Two changes within the quiet interval: the second is told when it ends.
  engine->setManualBrightness(60);
  loop.runPending();
  engine->setManualBrightness(50);
  idleFor(0.05);
  EXPECT_EQ(told.size(), 1u);
  idleFor(0.06);
  ASSERT_EQ(told.size(), 2u);
  EXPECT_NEAR(told[1].first - told[0].first, 0.1, 1e-9);

  // A new selection is told as a change of the displays.
  idleFor(1);
  told.clear();
  stepStore->selectedDisplayIDs = {displays[1].id};
  loop.runPending();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(has(told[0].second, RemoteControl::Property::displays));
  displays = remote.displays();
  EXPECT_FALSE(displays[0].selected);
  EXPECT_TRUE(displays[1].selected);
}

TEST_F(RemoteControlTest, ShowWindowNeedsAWindowAndIdleSecondsAreWholeSecondsOfTheEngineIdleTime) {
  EXPECT_FALSE(remote.showWindow());
  int shown = 0;
  remote.onShowWindow = [&] { ++shown; };
  EXPECT_TRUE(remote.showWindow());
  EXPECT_EQ(shown, 1);

  idleFor(12.7);
  EXPECT_EQ(remote.idleSeconds(), 12u);
  pressKeyElsewhere();
  EXPECT_EQ(remote.idleSeconds(), 0u);
  idleFor(5e9);  // more seconds than the property holds: the largest it can say
  EXPECT_EQ(remote.idleSeconds(), 4'294'967'295u);
}
