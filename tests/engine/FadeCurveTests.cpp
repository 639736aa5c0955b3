// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "engine/FadeTransition.hpp"

namespace {
// Level of a 100 -> 70 fade at progress p along a curve.
double level(FadeCurve curve, double p) { return 100 + easedProgress(curve, p) * (70 - 100); }
}  // namespace

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
