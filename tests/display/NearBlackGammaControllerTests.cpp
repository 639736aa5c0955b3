// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <optional>
#include <tuple>
#include <vector>

#include "display/ControlTestSupport.hpp"
#include "display/NearBlackGammaController.hpp"

namespace {
class NearBlackGammaControllerTest : public ControlTest {
 protected:
  void assist(DisplayID id, double actual, double safety = 5) { gamma.apply({{id, actual}}, {id}, {}, safety); }

  NearBlackGammaController gamma{{.gamma = &machine.gammaTables(), .notifications = &notifications}};
};

TEST_F(NearBlackGammaControllerTest, ScaleFollowsTheModeAndTheFloor) {
  // actual, full mode, safety, expected scale (nullopt: original table)
  const std::vector<std::tuple<double, bool, double, std::optional<double>>> cases = {
      {12, false, 5, std::nullopt},   {6, false, 5, 0.5075},
      {3, false, 5, 0.42541666666666667}, {0.5, false, 2, 0.09708333333333333},
      {-10, false, 2, 0.09708333333333333}, {5, false, 50, std::nullopt},
      {30, true, 50, 0.5},            {40, true, 5, 0.4},
      {99.95, true, 5, std::nullopt}, {NAN, true, 5, std::nullopt}};
  for (const auto& [actual, full, safety, expected] : cases) {
    const auto scale = NearBlackGammaController::scale(actual, full, safety);
    ASSERT_EQ(scale.has_value(), expected.has_value()) << actual;
    if (expected) {
      EXPECT_NEAR(*scale, *expected, 1e-15) << actual;
    }
  }
}

TEST_F(NearBlackGammaControllerTest, TablesAreScaledFromTheOriginalAndWrittenOnlyOnChange) {
  auto& monitor = machine.addExternalMonitor();
  const auto original = monitor.gammaRed;
  assist(monitor.id(), 6);
  assist(monitor.id(), 6);
  EXPECT_EQ(machine.gammaLog().size(), 1u);
  EXPECT_TRUE(scope.traced("display 1: gamma assist scale=0.507: ok"));
  assist(monitor.id(), 3);
  assist(monitor.id(), 3);
  EXPECT_EQ(machine.gammaLog().size(), 2u);
  // Not compounded: the second scale applies to the original, not to what was on screen.
  EXPECT_FLOAT_EQ(monitor.gammaRed[128], static_cast<float>(original[128] * 0.42541666666666667));

  gamma.apply({{monitor.id(), 50}}, {monitor.id()}, {monitor.id()}, 5);
  EXPECT_TRUE(scope.traced("display 1: gamma full scale=0.500: ok"));
  assist(monitor.id(), 20);  // bright enough: the original comes back
  EXPECT_EQ(monitor.gammaRed, original);
  EXPECT_TRUE(gamma.savedTables().empty());
  EXPECT_TRUE(gamma.appliedScales().empty());
}

TEST_F(NearBlackGammaControllerTest, DisplaysLeavingTheActiveSetOrTheProcessGetTheirOriginalBack) {
  auto& a = machine.addExternalMonitor();
  auto& b = machine.addExternalMonitor();
  gamma.apply({{a.id(), 2}, {b.id(), 2}}, {a.id(), b.id()}, {}, 5);
  gamma.apply({{a.id(), 2}}, {a.id()}, {}, 5);
  EXPECT_EQ(b.gammaScale(), 1.0);
  EXPECT_TRUE(scope.traced("display 2: gamma restore: ok"));
  EXPECT_LT(a.gammaScale(), 0.5);

  notifications.willTerminate.emit();
  EXPECT_EQ(a.gammaScale(), 1.0);
  EXPECT_TRUE(gamma.savedTables().empty());
}

// A night light's new tint, a colour profile: the system put its own table where ours was.
TEST_F(NearBlackGammaControllerTest, ATableTheSystemRebuiltUnderOursIsTheNewOriginalAndDimmedAgain) {
  auto& monitor = machine.addExternalMonitor();
  auto& bright = machine.addExternalMonitor();
  const auto original = monitor.gammaBlue;
  gamma.apply({{monitor.id(), 40}, {bright.id(), 100}}, {monitor.id(), bright.id()}, {monitor.id()}, 5);
  std::vector<float> tint = original;
  for (float& entry : tint) entry *= 0.6f;
  monitor.gammaRed = monitor.gammaGreen = original;
  monitor.gammaBlue = tint;
  const auto writes = machine.gammaLog().size();
  machine.gammaTables().originalReplaced.emit(bright.id());  // nothing of ours there
  EXPECT_EQ(machine.gammaLog().size(), writes);

  machine.gammaTables().originalReplaced.emit(monitor.id());
  EXPECT_TRUE(scope.traced("display 1: gamma again over the system's new table scale=0.400: ok"));
  EXPECT_FLOAT_EQ(monitor.gammaBlue[255], tint[255] * 0.4f);
  EXPECT_FLOAT_EQ(monitor.gammaRed[255], original[255] * 0.4f);
  notifications.willTerminate.emit();
  EXPECT_EQ(monitor.gammaBlue, tint) << "the system's latest table comes back, not the first one";
}

TEST_F(NearBlackGammaControllerTest, FailedCapturesLeaveTheDisplayUntouchedAndFailedWritesAndRestoresAreRetried) {
  auto& none = machine.addExternalMonitor({.gammaSize = 0});
  assist(none.id(), 2);
  EXPECT_TRUE(machine.gammaLog().empty());
  EXPECT_EQ(status(none.id()), "control_gamma_failed");
  EXPECT_TRUE(scope.traced("display 1: gamma table size unavailable"));

  auto& flaky = machine.addExternalMonitor();
  flaky.failGammaReads(1);
  assist(flaky.id(), 2);
  EXPECT_TRUE(scope.traced("display 2: gamma read: failed"));
  EXPECT_TRUE(machine.gammaLog().empty());
  assist(flaky.id(), 2);
  EXPECT_LT(flaky.gammaScale(), 0.5);

  auto& taken = machine.addExternalMonitor();
  taken.gammaFault = GammaTables::Result::noGamma;
  taken.failGammaReads();
  assist(taken.id(), 2);
  EXPECT_TRUE(scope.traced("display 3: gamma read: no gamma on this output"));
  EXPECT_EQ(status(taken.id()), "control_gamma_failed");
  EXPECT_EQ(taken.gammaScale(), 1.0);

  // Failed writes are retried, and a failed restore keeps the original.
  auto& monitor = machine.addExternalMonitor();
  const auto original = monitor.gammaRed;
  monitor.failGammaWrites(1);
  assist(monitor.id(), 2);
  EXPECT_EQ(status(monitor.id()), "control_gamma_failed");
  EXPECT_TRUE(gamma.appliedScales().empty());
  assist(monitor.id(), 2);
  EXPECT_LT(monitor.gammaScale(), 0.5);

  monitor.failGammaWrites(1);
  gamma.restoreAll();
  EXPECT_TRUE(scope.traced("display 4: gamma restore: failed"));
  EXPECT_EQ(gamma.savedTables().size(), 1u);
  gamma.restoreAll();
  EXPECT_EQ(monitor.gammaRed, original);
  EXPECT_TRUE(gamma.savedTables().empty());
}
}  // namespace
