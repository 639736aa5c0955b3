// SPDX-License-Identifier: GPL-3.0-or-later
// Where the window first appears beside the tray icon, and a screen reader's
// steps of a display's range handles.
#include "MenuTestSupport.hpp"
#include "menu/DropDownPlacement.hpp"
#include "menu/SliderControllers.hpp"

namespace {
const Rect screen{0, 27, 1920, 1053};  // a 27-pixel panel at the top
using Direction = MenuWindowAnchor::Direction;
}  // namespace

TEST(DropDownPlacement, DropsBelowATopIconCentredOnItAndKeptOnTheScreen) {
  const auto middle = dropDownPlacement({900, 2, 24, 24}, 310, 500, screen);
  EXPECT_EQ(middle.direction, Direction::down);
  EXPECT_EQ(middle.origin, (Point{912 - 155, 26 + DropDownPlacement::gap}));
  // At the right edge the window slides left rather than run off.
  const auto corner = dropDownPlacement({1890, 2, 24, 24}, 310, 500, screen);
  EXPECT_EQ(corner.origin.x, 1920 - 310);
  // A window taller than the room below keeps its top by the icon; the height rules shorten it.
  const auto tall = dropDownPlacement({900, 2, 24, 24}, 310, 2000, screen);
  EXPECT_EQ(tall.origin.y, 26 + DropDownPlacement::gap);
}

TEST(DropDownPlacement, RisesAboveABottomIconAndNeverAboveTheScreen) {
  const Rect bottomPanel{0, 0, 1920, 1050};
  const auto up = dropDownPlacement({10, 1054, 24, 24}, 310, 400, bottomPanel);
  EXPECT_EQ(up.direction, Direction::up);
  EXPECT_EQ(up.origin, (Point{0, 1054 - DropDownPlacement::gap - 400}));
  const auto tall = dropDownPlacement({10, 1054, 24, 24}, 310, 1500, bottomPanel);
  EXPECT_EQ(tall.origin.y, 0);
  // Known only by the pointer (a tray that gives no icon position): a point-sized icon.
  const auto pointer = dropDownPlacement({500, 300, 1, 1}, 310, 400, screen);
  EXPECT_EQ(pointer.direction, Direction::down);
  EXPECT_EQ(pointer.origin, (Point{500.5 - 155, 301 + DropDownPlacement::gap}));
}

class RangeStepTest : public MenuTest {
 protected:
  RangeStepTest() {
    machine.addExternalMonitor({.id = 1, .productName = "Left", .brightness = 100});
    makeMenu();
    menu->appear();
  }
};

TEST_F(RangeStepTest, AHandleStepIsOneWholeEditSavedOnceAndStopsAtTheEnds) {
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
