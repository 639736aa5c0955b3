// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <cmath>

#include "menu/DropDownPlacement.hpp"
#include "menu/GlassAppearance.hpp"
#include "menu/MenuLayout.hpp"
#include "platform/sim/SimDesktop.hpp"

namespace {

TEST(MenuHeights, BodyGetsWhatTheScreenLeavesButAtLeastAHundred) {
  SimScreenGeometry screens;
  screens.available = Rect{0, 0, 1440, 900};
  MenuHeights heights(&screens);
  EXPECT_EQ(heights.screenHeight(), 900);
  heights.reportChromeHeight(119.2);
  EXPECT_EQ(heights.chromeHeight(), 122);
  heights.reportBodyHeight(299.5);
  EXPECT_EQ(heights.scrollHeight(), 300);
  EXPECT_FALSE(heights.scrollingEnabled());
  heights.reportBodyHeight(1200);
  EXPECT_EQ(heights.scrollHeight(), 754);
  EXPECT_TRUE(heights.scrollingEnabled());
  int changes = 0;
  auto subscription = heights.changed.connect([&] { ++changes; });
  heights.setScreenHeight(900.4);  // within half a pixel: kept
  EXPECT_EQ(changes, 0);
  heights.setScreenHeight(200);
  EXPECT_EQ(heights.scrollHeight(), 100);
  EXPECT_EQ(changes, 1);

  screens.available.reset();
  heights.readScreenHeight();
  EXPECT_EQ(heights.screenHeight(), 760);
}

TEST(MenuWindowAnchor, KeepsTheFirstCornerAndStaysInsideTheScreen) {
  const Rect screen{0, 30, 1920, 1050};  // a top panel of 30
  MenuWindowAnchor anchor;
  EXPECT_FALSE(anchor.windowChanged({1500, 30, 310, 400}, screen)) << "inactive";
  anchor.setActive(true);
  auto update = anchor.windowChanged({1500, 30, 310, 400}, screen);
  ASSERT_TRUE(update);
  EXPECT_FALSE(update->moveTo);
  EXPECT_EQ(update->availableHeight, 1080 - 30 - 12);
  // The window grew: Qt kept its centre; the top edge goes back to the corner.
  update = anchor.windowChanged({1500, -70, 310, 600}, screen);
  ASSERT_TRUE(update && update->moveTo);
  EXPECT_EQ(*update->moveTo, (Point{1500, 30}));
  bool moved = false;
  anchor.move([&] {
    moved = true;
    EXPECT_FALSE(anchor.windowChanged({1500, 30, 310, 600}, screen)) << "its own move is not an update";
  });
  EXPECT_TRUE(moved);
  EXPECT_FALSE(anchor.windowChanged({1500.3, 30.4, 310, 600}, screen)->moveTo) << "half a pixel is close enough";

  // Opening upwards from a bottom panel: the bottom-left corner stays.
  anchor.setDirection(MenuWindowAnchor::Direction::up);
  const Rect bottomPanel{0, 0, 1920, 1040};
  update = anchor.windowChanged({1500, 640, 310, 400}, bottomPanel);
  EXPECT_EQ(update->availableHeight, 1040 - 12);
  update = anchor.windowChanged({1500, 640, 310, 500}, bottomPanel);
  EXPECT_EQ(*update->moveTo, (Point{1500, 540}));
  // A corner near the far edge still offers a hundred pixels.
  anchor.reset();
  EXPECT_EQ(anchor.windowChanged({0, 0, 310, 50}, bottomPanel)->availableHeight, 100);
}

TEST(GlassAppearance, TransparencyGivesTheCardsAlphasAndPublishesChanges) {
  const GlassValues standard = glassValues(35);
  EXPECT_DOUBLE_EQ(standard.effectAlpha, 0.65);
  EXPECT_DOUBLE_EQ(standard.borderAlpha, 0.237);
  EXPECT_DOUBLE_EQ(standard.tintAlpha, 0.4225);
  EXPECT_DOUBLE_EQ(glassValues(0).borderAlpha, 0.30);
  EXPECT_DOUBLE_EQ(glassValues(100).effectAlpha, 0);
  EXPECT_DOUBLE_EQ(glassValues(100).borderAlpha, 0.12);
  EXPECT_DOUBLE_EQ(glassValues(150).effectAlpha, 0);

  GlassAppearance appearance;
  std::vector<double> published;
  auto subscription = appearance.changes.connect([&](const double& v) { published.push_back(v); });
  appearance.setPercent(35);
  appearance.setPercent(std::nan(""));
  appearance.setPercent(-5);
  EXPECT_EQ(published, (std::vector<double>{0}));
  EXPECT_EQ(hoverSurfaceValues(true).fillOpacity, 0.16);
  EXPECT_FALSE(hoverSurfaceValues(false).borderUsesAccent);
}

const Rect topPanelScreen{0, 27, 1920, 1053};  // a 27-pixel panel at the top

TEST(DropDownPlacement, DropsBelowATopIconCentredOnItAndKeptOnTheScreen) {
  const auto middle = dropDownPlacement({900, 2, 24, 24}, 310, 500, topPanelScreen);
  EXPECT_EQ(middle.direction, MenuWindowAnchor::Direction::down);
  EXPECT_EQ(middle.origin, (Point{912 - 155, 26 + DropDownPlacement::gap}));
  // At the right edge the window slides left rather than run off.
  const auto corner = dropDownPlacement({1890, 2, 24, 24}, 310, 500, topPanelScreen);
  EXPECT_EQ(corner.origin.x, 1920 - 310);
  // A window taller than the room below keeps its top by the icon; the height rules shorten it.
  const auto tall = dropDownPlacement({900, 2, 24, 24}, 310, 2000, topPanelScreen);
  EXPECT_EQ(tall.origin.y, 26 + DropDownPlacement::gap);
}

TEST(DropDownPlacement, RisesAboveABottomIconAndNeverAboveTheScreen) {
  const Rect bottomPanel{0, 0, 1920, 1050};
  const auto up = dropDownPlacement({10, 1054, 24, 24}, 310, 400, bottomPanel);
  EXPECT_EQ(up.direction, MenuWindowAnchor::Direction::up);
  EXPECT_EQ(up.origin, (Point{0, 1054 - DropDownPlacement::gap - 400}));
  const auto tall = dropDownPlacement({10, 1054, 24, 24}, 310, 1500, bottomPanel);
  EXPECT_EQ(tall.origin.y, 0);
  // Known only by the pointer (a tray that gives no icon position): a point-sized icon.
  const auto pointer = dropDownPlacement({500, 300, 1, 1}, 310, 400, topPanelScreen);
  EXPECT_EQ(pointer.direction, MenuWindowAnchor::Direction::down);
  EXPECT_EQ(pointer.origin, (Point{500.5 - 155, 301 + DropDownPlacement::gap}));
}

}  // namespace
