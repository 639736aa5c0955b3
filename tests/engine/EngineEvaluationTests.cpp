// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <limits>

#include "EngineTestSupport.hpp"

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

class EngineEvaluation : public EngineTest {
 protected:
  EngineEvaluation() { makeEngine(); }
};

TEST_F(EngineEvaluation, PicksTheLastStepAtOrBelowTheIdleTime) {
  setSteps({{0, 100}, {180, 70}, {600, 40}, {1200, 20}});
  EXPECT_DOUBLE_EQ(engine->targetBrightness(179.9), 100);
  EXPECT_DOUBLE_EQ(engine->targetBrightness(180), 70);
  EXPECT_DOUBLE_EQ(engine->targetBrightness(5000), 20);

  // Stored out of order and with a shared threshold: the one stored last wins.
  setSteps({{600, 10}, {300, 50}, {0, 90}, {300, 30}});
  EXPECT_DOUBLE_EQ(engine->targetBrightness(400), 30);
  EXPECT_DOUBLE_EQ(engine->targetBrightness(299), 90);
  EXPECT_DOUBLE_EQ(engine->baseBrightnessAtZeroIdle(), 90);

  // Without a step at 0 the level at rest is full brightness.
  setSteps({{60, 50}});
  EXPECT_DOUBLE_EQ(engine->targetBrightness(10), 100);
  setSteps({});
  EXPECT_DOUBLE_EQ(engine->targetBrightness(1e9), 100);
}

TEST_F(EngineEvaluation, ScalesStepsByTheMasterLevel) {
  setSteps({{0, 100}, {60, 40}});
  stepStore->manualBrightnessPercent = 80;
  EXPECT_DOUBLE_EQ(engine->targetBrightness(61), 32);
  EXPECT_DOUBLE_EQ(engine->baseBrightnessAtZeroIdle(), 80);
  setSteps({});
  EXPECT_DOUBLE_EQ(engine->targetBrightness(61), 80);
}

TEST_F(EngineEvaluation, BrokenStepsNeverProduceALevelOutsideTheRange) {
  setSteps({{0, 100}, {60, kNaN}, {120, -30}, {kNaN, 10}, {240, 1e308}});
  EXPECT_DOUBLE_EQ(engine->targetBrightness(90), 100);  // the NaN step defines nothing
  EXPECT_DOUBLE_EQ(engine->targetBrightness(130), 0);
  EXPECT_DOUBLE_EQ(engine->targetBrightness(300), 100);
  stepStore->manualBrightnessPercent = kNaN;
  EXPECT_DOUBLE_EQ(engine->targetBrightness(130), 0);
  EXPECT_DOUBLE_EQ(engine->targetBrightness(0), 100);
}

TEST_F(EngineEvaluation, ProgramActivityAndFailingCountersDecideTheIdleTime) {
  idle.setIdleSeconds(500);
  loop.advance(30);  // the engine was created 30 s ago and has seen nothing since
  EXPECT_DOUBLE_EQ(engine->effectiveIdleSeconds(loop.uptime()), 30);

  // The desktop saw input the program did not: its answer counts.
  idle.setIdleSeconds(5);
  EXPECT_DOUBLE_EQ(engine->effectiveIdleSeconds(loop.uptime()), 5);
  // Without an answer the program cannot see input, and an unseen user counts as present.
  idle.setFailing(true);
  EXPECT_DOUBLE_EQ(engine->effectiveIdleSeconds(loop.uptime()), 0);
}

TEST_F(EngineEvaluation, DisplayMapsCoverEveryConnectedDisplayButOnlySelectedOnesAreDriven) {
  machine.addExternalMonitor({.id = 1});
  machine.addExternalMonitor({.id = 2});
  displayStore->refresh();
  stepStore->selectedDisplayIDs = std::set<DisplayID>{2, 9};  // 9 is not connected
  stepStore->reconcileDisplays(displayStore->displays.get());
  stepStore->setDisplayMaximumPercents({{1, 2}, {2, 150}});
  stepStore->setDisplayUsesFullGammaMode(true, 1);

  EXPECT_EQ(engine->targetDisplayIDs(), (std::set<DisplayID>{2}));
  const auto maximums = engine->targetDisplayMaximumPercents();
  EXPECT_EQ(maximums.size(), 2u);
  EXPECT_DOUBLE_EQ(maximums.at(1), 5);  // raised to the safety minimum
  EXPECT_DOUBLE_EQ(maximums.at(2), 100);
  EXPECT_EQ(engine->targetDisplayMinimumPercents().size(), 2u);
  EXPECT_EQ(engine->targetDisplayFullGammaModes(), (std::map<DisplayID, bool>{{1, true}, {2, false}}));
}
