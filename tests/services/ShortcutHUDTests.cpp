// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <limits>

#include "platform/sim/SimHUDPanel.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/ShortcutHUD.hpp"

namespace {
constexpr double kTrack = 208;  // 240 less two 16-point insets

class ShortcutHUDTest : public ::testing::Test {
 protected:
  ShortcutHUDTest() { ShortcutHUD::usePorts(&panel, &loop); }
  ~ShortcutHUDTest() override { ShortcutHUD::usePorts(nullptr, nullptr); }
  void show(double percent, const std::string& title = "Brightness") { ShortcutHUD::shared().show(title, percent); }

  VirtualMainLoop loop;
  SimHUDPanel panel;
};
}  // namespace

TEST_F(ShortcutHUDTest, ClampsAndRoundsTheValueAndBar) {
  const std::tuple<double, const char*, double> cases[] = {
      {150, "100%", kTrack}, {-5, "0%", 0}, {49.5, "50%", kTrack * 0.495}, {12.4, "12%", kTrack * 0.124},
      {std::numeric_limits<double>::quiet_NaN(), "0%", 0}};
  for (const auto& [percent, text, fill] : cases) {
    show(percent);
    EXPECT_EQ(panel.valueText(), text) << percent;
    EXPECT_DOUBLE_EQ(panel.fillWidth(), fill) << percent;
  }
  EXPECT_EQ(panel.builds, 1);
  EXPECT_EQ(panel.layouts, 1);
  EXPECT_EQ(panel.titleWrites, 1);  // the same title is not rewritten
  EXPECT_EQ(panel.alpha(), 1);
}

TEST_F(ShortcutHUDTest, HidesNineTenthsOfASecondAfterTheLastShow) {
  show(40);
  loop.advance(0.5);
  show(45);
  loop.advance(0.85);
  EXPECT_TRUE(panel.visible);
  loop.advance(0.05);
  EXPECT_FALSE(panel.visible);
  EXPECT_EQ(loop.pendingCount(), 0u);  // the first hide was cancelled, not merely outrun
}

TEST_F(ShortcutHUDTest, PositionsOnlyWhenNotOnScreen) {
  panel.screen = HUDPanel::Rect{100, 30, 1600, 870};
  show(40);
  panel.screen = HUDPanel::Rect{2000, 0, 1000, 800};  // the main screen changed meanwhile
  show(50);
  EXPECT_EQ(panel.origins, (std::vector<std::pair<double, double>>{{100 + 800 - 120, 30 + 28}}));
  loop.advance(1);
  show(60);
  EXPECT_EQ(panel.origins.back(), (std::pair<double, double>{2000 + 500 - 120, 28}));
  loop.advance(1);
  panel.screen.reset();  // no screen: shown where it was
  show(70);
  EXPECT_EQ(panel.origins.size(), 2u);
  EXPECT_TRUE(panel.visible);
}
