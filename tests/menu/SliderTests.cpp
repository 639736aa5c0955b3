// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "menu/SliderControllers.hpp"
#include "menu/SliderGeometry.hpp"
#include "menu/SliderUpdateCoalescer.hpp"
#include "MenuTestSupport.hpp"

namespace {

// ---- coalescer ----------------------------------------------------------------------

class CoalescerTest : public ::testing::Test {
 protected:
  VirtualMainLoop loop;
  std::vector<std::pair<double, int>> delivered;  // (uptime, value)
  void submit(SliderUpdateCoalescer& coalescer, int value) {
    coalescer.submit([this, value] { delivered.push_back({loop.uptime(), value}); });
  }
};

TEST_F(CoalescerTest, DragDeliversFirstAtOnceThenAtMostThirtyPerSecondAndTheLastOnFlush) {
  SliderUpdateCoalescer coalescer(loop);
  // A one-second drag with a pointer event every 1/120 s.
  for (int event = 0; event <= 120; ++event) {
    submit(coalescer, event);
    if (event == 0) {
      ASSERT_EQ(delivered.size(), 1u) << "the first value goes out at once";
    }
    loop.advance(1.0 / 120);
  }
  coalescer.flush();
  ASSERT_FALSE(delivered.empty());
  EXPECT_EQ(delivered.back().second, 120) << "mouse up delivers the last value";
  EXPECT_LE(delivered.size(), 33u);
  EXPECT_GE(delivered.size(), 28u);
  for (std::size_t i = 1; i + 1 < delivered.size(); ++i)
    EXPECT_GE(delivered[i].first - delivered[i - 1].first, 1.0 / 30 - 1e-9) << "delivery " << i;
  // Every delayed delivery runs the newest value waiting, never an older one.
  for (std::size_t i = 1; i < delivered.size(); ++i) EXPECT_GT(delivered[i].second, delivered[i - 1].second);
}

TEST_F(CoalescerTest, CancelAndDestructionDropTheWaitingValue) {
  {
    SliderUpdateCoalescer coalescer(loop);
    submit(coalescer, 1);
    submit(coalescer, 2);
    EXPECT_TRUE(coalescer.hasPending());
    coalescer.cancel();
    loop.advance(1);
    submit(coalescer, 3);  // long after the last delivery: at once
    submit(coalescer, 4);
  }
  loop.advance(1);  // the coalescer is gone: its scheduled delivery must not run
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].second, 1);
  EXPECT_EQ(delivered[1].second, 3);
  SliderUpdateCoalescer idle(loop);
  idle.flush();  // nothing waiting: nothing runs
  EXPECT_EQ(delivered.size(), 2u);
}

// ---- geometry ---------------------------------------------------------------------------

TEST(SliderGeometry, ValueFromPositionClampsAndRoundsHalvesUp) {
  const SliderGeometry plain{208, 25, false};  // track 200 wide from x 4
  EXPECT_EQ(plain.trackWidth(), 200);
  EXPECT_EQ(plain.valueAt(4), 0);
  EXPECT_EQ(plain.valueAt(204), 100);
  EXPECT_EQ(plain.valueAt(-50), 0);
  EXPECT_EQ(plain.valueAt(900), 100);
  EXPECT_EQ(plain.valueAt(4 + 101), 51) << "50.5 rounds away from zero";
  const SliderGeometry withValue{250, 25, true};  // 42 more kept for "100%"
  EXPECT_EQ(withValue.trackWidth(), 200);
  EXPECT_EQ(withValue.valueAt(104), 50);
  const SliderGeometry tiny{3, 25, true};
  EXPECT_EQ(tiny.trackWidth(), 1);
  EXPECT_EQ(tiny.valueAt(4.5), 50);

  EXPECT_EQ(plain.trackRect(), (Rect{4, 8, 200, 9}));
  EXPECT_EQ(plain.fillRect(25), (Rect{4, 8, 50, 9}));
  EXPECT_EQ(plain.knobRect(50), (Rect{102, 4, 4, 17}));
  EXPECT_EQ(SliderGeometry::fillAlpha(true), 0.45);
}

TEST(RangeGeometry, TrackSpansTheSafetyMinimumToFullAndPressesTakeTheNearerHandle) {
  const RangeGeometry range{168, 20};  // usable 160 wide, 20% ... 100%
  EXPECT_EQ(range.valueAt(4), 20) << "the left end means the safety minimum";
  EXPECT_EQ(range.valueAt(164), 100);
  EXPECT_EQ(range.valueAt(84), 60);
  EXPECT_EQ(range.position(20), 4);
  EXPECT_EQ(range.position(100), 164);
  EXPECT_EQ(range.selectedRect(40, 60), (Rect{44, 8, 40, 10}));
  EXPECT_EQ(range.selectedRect(60, 40).width, 0);
  EXPECT_EQ(range.handleRect(60), (Rect{82, 4, 4, 18}));

  // Coinciding handles: left of them the minimum, at or right of them the maximum.
  EXPECT_TRUE(range.pressTakesMinimum(83, 60, 60));
  EXPECT_FALSE(range.pressTakesMinimum(84, 60, 60));
  EXPECT_FALSE(range.pressTakesMinimum(85, 60, 60));
  // Apart: the nearer one, a tie to the maximum.
  EXPECT_TRUE(range.pressTakesMinimum(50, 40, 80));
  EXPECT_FALSE(range.pressTakesMinimum(84, 40, 80));
  EXPECT_FALSE(range.pressTakesMinimum(120, 40, 80));

  const RangeGeometry collapsed{168, 100};  // span never below 1
  EXPECT_EQ(collapsed.span(), 1);
  EXPECT_EQ(collapsed.valueAt(100), 100);
}

TEST(SliderKeys, EachKeyMovesByItsStepAndStopsAtTheEnds) {
  const std::tuple<SliderKey, double, double> cases[] = {
      {SliderKey::stepUp, 50, 51},   {SliderKey::stepDown, 50, 49}, {SliderKey::pageUp, 50, 60},
      {SliderKey::pageDown, 50, 40}, {SliderKey::home, 50, 5},      {SliderKey::end, 50, 100},
      {SliderKey::pageDown, 12, 5},  {SliderKey::pageUp, 95, 100}};
  for (const auto& [key, value, target] : cases)
    EXPECT_EQ(sliderKeyTarget(key, value, 5, 100), target) << static_cast<int>(key) << " from " << value;
}

// ---- controllers over the real stores ---------------------------------------------------

class SliderControllerTest : public MenuTest {
 protected:
  SliderControllerTest() {
    twoMonitors();
    makeMenu();
    menu->appear();
  }
  double gammaScale(DisplayID id) const {
    for (auto it = machine.gammaLog().rbegin(); it != machine.gammaLog().rend(); ++it)
      if (it->displayID == id) return it->scale;
    return 1;
  }
};

TEST_F(SliderControllerTest, StepDragPreviewsCoalescedAndSavesOnceOnRelease) {
  const Uuid id = stepStore->steps()[1].id;
  auto slider = SliderController::stepBrightness(*menu, id);
  const double width = 250;  // track 200 wide
  const auto before = saves();
  slider->mouseDown(4 + 100, width);  // 50 %
  EXPECT_EQ(stepStore->steps()[1].brightnessPercent, 50) << "the first value at once";
  EXPECT_EQ(menu->previewingStepID(), id);
  EXPECT_EQ(stepStore->interactiveEditDepth(), 1);
  for (int i = 1; i <= 60; ++i) {
    slider->mouseDragged(4 + 100 - i, width);
    loop.advance(1.0 / 120);
  }
  slider->mouseUp(4 + 20, width);  // 10 %
  EXPECT_EQ(slider->value(), 10);
  EXPECT_EQ(stepStore->steps()[1].brightnessPercent, 10) << "mouse up delivers the last value";
  EXPECT_FALSE(menu->previewingStepID());
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
  EXPECT_EQ(saves(), before + 1) << "the whole drag writes the file once";
  EXPECT_FALSE(engine->previewBrightnessPercent());
}

TEST_F(SliderControllerTest, MasterSliderFollowsTheEngineAndIgnoresInputWhileDisabled) {
  auto slider = SliderController::master(*menu);
  EXPECT_EQ(slider->value(), 100);
  slider->mouseDown(4 + 100, 208);
  EXPECT_TRUE(engine->manualAdjustmentActive());
  slider->mouseUp(4 + 150, 208);
  EXPECT_EQ(stepStore->manualBrightnessPercent, 75);
  EXPECT_FALSE(engine->manualAdjustmentActive());

  slider->decrement();
  EXPECT_EQ(stepStore->manualBrightnessPercent, 70);
  EXPECT_EQ(slider->value(), 70) << "the value comes back through the presentation";

  slider->setDisabled(true);
  slider->mouseDown(4, 208);
  slider->increment();
  EXPECT_FALSE(slider->isEditing());
  EXPECT_EQ(stepStore->manualBrightnessPercent, 70);
}

TEST_F(SliderControllerTest, GlassSliderDeliversEveryChangeAtOnceAndSavesThePreference) {
  auto slider = SliderController::glassTransparency(*menu);
  std::vector<double> published;
  auto subscription = menu->glassAppearance().changes.connect([&](const double& v) { published.push_back(v); });
  slider->mouseDown(4, 250);
  slider->mouseDragged(6, 250);
  slider->mouseDragged(8, 250);
  slider->mouseUp(8, 250);
  EXPECT_EQ(published, (std::vector<double>{0, 1, 2})) << "no coalescing";
  EXPECT_EQ(defaults.doubleValue(MenuViewState::glassTransparencyKey), 2);
  slider->increment();
  EXPECT_EQ(menu->savedGlassTransparency(), 7);
}

TEST_F(SliderControllerTest, RangeDragClampsAtTheOtherHandlePreviewsTheDisplayAndRedeliveringWritesNothing) {
  DisplayRangeController range(*menu, 1);
  const double width = 198;  // usable 190 wide over 5 ... 100: one percent per two pixels
  // Redelivering the stored value writes and previews nothing.
  range.mouseDown(4 + 190, width);  // the maximum handle, at 100 already
  loop.advance(0.1);                // what the press wrote has reached the monitor's bus
  const auto gammaWrites = machine.gammaLog().size();
  const auto i2c = machine.i2cLog(1, true).size();
  range.mouseDragged(4 + 190, width);
  range.mouseUp(4 + 190, width);
  EXPECT_EQ(machine.i2cLog(1, true).size(), i2c);
  EXPECT_EQ(machine.gammaLog().size(), gammaWrites);
  EXPECT_EQ(stepStore->displayMaximumPercent(1), 100);
  EXPECT_EQ(range.maximum(), 100);
  EXPECT_EQ(range.minimum(), 5);
  loop.advance(0.1);  // past the coalescer's interval: the next press goes out at once
  range.mouseDown(4 + 2 * 35, width);  // nearer the minimum handle: 40 %
  ASSERT_EQ(range.editingMinimum(), true);
  EXPECT_EQ((menu->previewingMaster()), (MenuViewState::RangeHandle{1, true}));
  EXPECT_EQ(stepStore->displayMinimumPercent(1), 40);
  loop.advance(0.1);
  // Lower the maximum to 60, then drag the minimum past it.
  range.mouseUp(4 + 2 * 35, width);
  range.mouseDown(4 + 2 * 95, width);
  range.mouseUp(4 + 2 * 55, width);
  EXPECT_EQ(stepStore->displayMaximumPercent(1), 60);
  range.mouseDown(4 + 2 * 35, width);
  int redraws = 0;
  const auto redraw = range.valueChanged.connect([&] { ++redraws; });
  range.mouseDragged(4 + 2 * 90, width);
  EXPECT_EQ(range.minimum(), 60) << "stops at the maximum; the handles may meet";
  EXPECT_EQ(redraws, 1) << "the moved handle is drawn";
  range.mouseUp(4 + 2 * 90, width);
  EXPECT_EQ(stepStore->displayMinimumPercent(1), 60);
  EXPECT_EQ(range.minimumCaption(), L10n::text("min_label") + " 60%");
  EXPECT_EQ(range.maximumCaption(), L10n::text("max_label") + " 60%");
  EXPECT_FALSE(menu->previewingMaster());
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
}

TEST_F(SliderControllerTest, ClosingTheWindowMidDragEndsThePreviewAndTheEdit) {
  DisplayRangeController range(*menu, 2);
  auto step = SliderController::stepBrightness(*menu, stepStore->steps()[1].id);
  range.mouseDown(4 + 2 * 15, 198);  // minimum to 20 %
  range.mouseDragged(4 + 2 * 25, 198);  // within 1/30 s: waits in the coalescer
  ASSERT_EQ(stepStore->interactiveEditDepth(), 1);
  const auto before = saves();
  menu->disappear();
  EXPECT_FALSE(menu->previewingMaster());
  EXPECT_FALSE(range.editingMinimum());
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
  EXPECT_EQ(stepStore->displayMinimumPercent(2), 30) << "the last position still counts";
  EXPECT_EQ(saves(), before + 1);
  // A late mouse up (the window is gone) changes nothing.
  range.mouseUp(4 + 2 * 80, 198);
  step->mouseUp(4, 250);
  EXPECT_EQ(stepStore->displayMinimumPercent(2), 30);
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
}

TEST_F(SliderControllerTest, AHandleStepIsOneWholeEditSavedOnceAndStopsAtTheEnds) {
  DisplayRangeController range(*menu, 1);
  const auto before = saves();
  range.stepHandle(false, -5);
  EXPECT_EQ(stepStore->displayMaximumPercent(1), 95);
  EXPECT_EQ(range.maximum(), 95);
  EXPECT_EQ(saves(), before + 1);
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
  EXPECT_FALSE(menu->previewingMaster());

  range.stepHandle(false, 50);
  EXPECT_EQ(range.maximum(), 100) << "never past the right end";
  range.stepHandle(true, -5);
  EXPECT_EQ(range.minimum(), stepStore->safetyMinimumPercent.get()) << "never below the safety minimum";
  for (int i = 0; i < 30; ++i) range.stepHandle(true, 5);
  EXPECT_EQ(range.minimum(), 100) << "the minimum climbs only as far as the maximum";
  EXPECT_EQ(stepStore->displayMinimumPercent(1), 100);
}

}  // namespace
