// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "EngineTestSupport.hpp"

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

class EngineEvaluation : public EngineTest {
 protected:
  EngineEvaluation() { makeEngine(); }
};

TEST_F(EngineEvaluation, PicksTheLastStepAtOrBelowTheIdleTimeScaledByTheMasterLevel) {
  using Steps = std::vector<std::pair<double, double>>;
  const Steps usual{{0, 100}, {180, 70}, {600, 40}, {1200, 20}};
  // Stored out of order and with a shared threshold: the one stored last wins.
  const Steps shuffled{{600, 10}, {300, 50}, {0, 90}, {300, 30}};
  // Broken steps never give a level outside the range; the NaN step defines nothing.
  const Steps broken{{0, 100}, {60, kNaN}, {120, -30}, {kNaN, 10}, {240, 1e308}};
  struct Case {
    Steps steps;
    double master, idle, level;
  };
  const std::vector<Case> cases = {
      {usual, 100, 179.9, 100}, {usual, 100, 180, 70},     {usual, 100, 5000, 20},
      {shuffled, 100, 400, 30}, {shuffled, 100, 299, 90},
      {{{60, 50}}, 100, 10, 100},  // without a step at 0 the level at rest is full brightness
      {{}, 100, 1e9, 100},      {{{0, 100}, {60, 40}}, 80, 61, 32}, {{}, 80, 61, 80},
      {broken, 100, 90, 100},   {broken, 100, 130, 0},     {broken, 100, 300, 100},
      {broken, kNaN, 130, 0},   {broken, kNaN, 0, 100},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    setSteps(cases[i].steps);
    stepStore->manualBrightnessPercent = cases[i].master;
    EXPECT_DOUBLE_EQ(engine->targetBrightness(cases[i].idle), cases[i].level) << "case " << i;
  }
  for (const auto& [steps, master, base] : {std::tuple{shuffled, 100.0, 90.0}, {Steps{{0, 100}, {60, 40}}, 80.0, 80.0}}) {
    setSteps(steps);
    stepStore->manualBrightnessPercent = master;
    EXPECT_DOUBLE_EQ(engine->baseBrightnessAtZeroIdle(), base) << master;
  }
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
