// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cmath>

#include "EngineTestSupport.hpp"
#include "engine/FadeTransition.hpp"

namespace {
// Level of a 100 -> 70 fade at progress p along a curve.
double level(FadeCurve curve, double p) { return 100 + easedProgress(curve, p) * (70 - 100); }
}  // namespace

// Ticks, fades and the timer that drives them, on the virtual loop.
class EngineTiming : public StartedEngine {
 protected:
  // The frame timer's interval; 0 at rest, where nothing repeats.
  double timerInterval() const {
    const auto timers = loop.activeRepeatingTimers();
    if (timers.empty()) return 0;
    EXPECT_EQ(timers.size(), 1u);
    EXPECT_NEAR(timers.at(0).tolerance, timers.at(0).interval * 0.1, 1e-12);
    return timers.at(0).interval;
  }
};

TEST_F(EngineTiming, AtRestNothingRepeatsAndOnlyTheUsersGoingAwayAndTheNextStepWakeTheEngine) {
  EXPECT_EQ(timerInterval(), 0);
  const auto started = applyCount();
  EXPECT_EQ(started, 1u);  // start() drives the displays once
  const int queries = idle.queryCount();
  idleFor(170);
  EXPECT_EQ(applyCount(), started);
  EXPECT_EQ(idle.queryCount(), queries + 2);  // asked once, when the user went away after a second
  engine->applyCurrentBrightness();
  EXPECT_EQ(applyCount(), started + 1);
  EXPECT_DOUBLE_EQ(lastLevel(), 100);
  // start() twice changes nothing.
  engine->start();
  EXPECT_EQ(applyCount(), started + 1);
  EXPECT_EQ(timerInterval(), 0);
  // The step's threshold starts the fade on time; the menu's counter wakes it once a second.
  idleFor(10 - 1e-6);
  EXPECT_FALSE(engine->fadeTransition());
  idleFor(2e-6);
  ASSERT_TRUE(engine->fadeTransition());
  EXPECT_NEAR(engine->fadeTransition()->startedAt, loop.uptime() - 1e-6, 1e-9);
  idleFor(7);
  EXPECT_EQ(timerInterval(), 0);
  engine->setMenuVisible(true);
  const int before = idle.queryCount();
  idleFor(10 + IdleBrightnessEngine::kWakeSlack);  // each second's wake-up comes just after it
  EXPECT_EQ(engine->idleCounter.seconds.get(), 197);
  EXPECT_LE(idle.queryCount() - before, 2 * 10);
  engine->setMenuVisible(false);
}

TEST_F(EngineTiming, NewTargetMidFadeStartsAFreshFadeFromWhereItGot) {
  setSteps({{0, 100}, {180, 70}, {183, 40}});
  idleFor(180);
  const double firstStart = engine->fadeTransition()->startedAt;
  idleFor(3.1);
  ASSERT_TRUE(engine->fadeTransition());
  const FadeTransition second = *engine->fadeTransition();
  EXPECT_DOUBLE_EQ(second.to, 40);
  EXPECT_DOUBLE_EQ(second.duration, 6);
  EXPECT_GE(second.startedAt, firstStart + 3);
  const double p = (second.startedAt - firstStart) / 6;
  EXPECT_NEAR(second.from, 100 - 30 * (1 - (1 - p) * (1 - p) * (1 - p)), 1e-9);
}

TEST_F(EngineTiming, FadeDurationZeroOrHugeAndBadFrameRates) {
  stepStore->fadeDurationSeconds = 0;
  idleFor(180);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 70);
  EXPECT_FALSE(engine->fadeTransition());
  EXPECT_EQ(timerInterval(), 0);

  // A fade that would take decades barely moves, and input still jumps back at once.
  stepStore->fadeDurationSeconds = 1e9;
  idleFor(420);
  EXPECT_GT(engine->currentBrightnessPercent(), 69.99);
  ASSERT_TRUE(engine->fadeTransition());
  for (const auto& [rate, interval] : {std::pair{0.0, 1.0}, {1000.0, 1.0 / 60}, {60.0, 1.0 / 60}, {0.5, 1.0}}) {
    stepStore->frameRate = rate;
    engine->restartTimer();
    EXPECT_DOUBLE_EQ(timerInterval(), interval) << rate;
  }
  const auto before = applyCount();
  pressKeyElsewhere();
  EXPECT_EQ(applyCount(), before + 1);
  EXPECT_DOUBLE_EQ(lastLevel(), 100);
  EXPECT_FALSE(engine->fadeTransition());
  EXPECT_EQ(timerInterval(), 0);
}

TEST_F(EngineTiming, AnHourLongFadeReachesTheDisplaysAndThenRests) {
  setSteps({{0, 100}, {180, 40}});
  stepStore->fadeDurationSeconds = 3600;  // less than 0.001 % per frame at 24 frames a second
  idleFor(180 + 1200);
  const double level = engine->currentBrightnessPercent();
  ASSERT_LT(level, 90);
  // Each display's range runs from the 5 % floor to 100 %.
  const auto shown = [](double logical) { return static_cast<int>(std::lround(5 + 0.95 * logical)); };
  EXPECT_NEAR(machine.display(1).vcpCurrent(), shown(level), 1);
  EXPECT_NEAR(machine.display(2).vcpCurrent(), shown(level), 1);
  idleFor(3600);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 40);
  EXPECT_EQ(machine.display(1).vcpCurrent(), shown(40));
  EXPECT_EQ(machine.display(2).vcpCurrent(), shown(40));
  const auto resting = applyCount();
  idleFor(60);
  EXPECT_EQ(applyCount(), resting);
}

// Neither a display that disappears mid-fade nor the wall clock set back stalls it.
TEST_F(EngineTiming, ADisplayThatDisappearsMidFadeIsDroppedAndTheFadeGoesOn) {
  idleFor(181);
  ASSERT_TRUE(engine->fadeTransition());
  loop.shiftWallClock(std::chrono::hours(-2));
  machine.disconnect(2);
  displayStore->refresh();
  displayStore->refresh();  // a burst counts once
  idleFor(0.4);
  EXPECT_EQ(controller->invalidations, 0);  // not before the debounce
  idleFor(0.2);
  EXPECT_EQ(controller->invalidations, 1);
  EXPECT_EQ(controller->applies.back().targets, (std::set<DisplayID>{1}));
  idleFor(6);
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 70);
  EXPECT_FALSE(controller->applies.back().targets.contains(2));
  idleFor(600 - 187 + 7);  // the idle clock goes on too
  EXPECT_DOUBLE_EQ(engine->currentBrightnessPercent(), 40);
}

TEST(FadeCurve, MidFadeLevelsEndsAndOvershootOfEachCurve) {
  EXPECT_DOUBLE_EQ(level(FadeCurve::easeOut, 0.5), 73.75);
  EXPECT_DOUBLE_EQ(level(FadeCurve::easeIn, 0.5), 96.25);
  EXPECT_DOUBLE_EQ(level(FadeCurve::easeInOut, 0.5), 85);
  EXPECT_DOUBLE_EQ(level(FadeCurve::linear, 0.5), 85);
  EXPECT_DOUBLE_EQ(level(FadeCurve::easeInOut, 0.25), 98.125);
  for (const auto curve : FadeCurve::allCases) {
    EXPECT_DOUBLE_EQ(easedProgress(curve, 0), 0) << FadeCurve(curve).rawValue();
    EXPECT_DOUBLE_EQ(easedProgress(curve, 7), 1) << FadeCurve(curve).rawValue();
  }
  // The two halves of ease-in-out meet without a jump.
  EXPECT_NEAR(easedProgress(FadeCurve::easeInOut, 0.5 - 1e-9), easedProgress(FadeCurve::easeInOut, 0.5), 1e-8);
}
