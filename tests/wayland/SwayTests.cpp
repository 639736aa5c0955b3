// SPDX-License-Identifier: GPL-3.0-or-later
// The Wayland binding against a headless sway (scripts/test.d/sway.sh starts
// it): outputs, idle time through KDE's idle protocol, input injected with
// wtype, and gamma control, which headless outputs refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "../linux/LinuxTestSupport.hpp"
#include "WaylandTestSupport.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/NearBlackGammaController.hpp"
#include "platform/wayland/WaylandGammaTables.hpp"
#include "platform/wayland/WaylandIdle.hpp"
#include "platform/wayland/WaylandOutputs.hpp"

namespace {
using namespace std::chrono_literals;

std::string sway() { return std::getenv("DIMMORA_SWAY_DISPLAY"); }

void type(const std::string& text) {
  run("WAYLAND_DISPLAY='" + sway() + "' wtype '" + text + "' 2>&1");
}

class Sway : public ::testing::Test {
 protected:
  std::unique_ptr<WaylandSession> session;
  void SetUp() override {
    REQUIRE_SWAY();
    std::string error;
    session = WaylandSession::connect(sway(), error);
    ASSERT_TRUE(session) << error;
  }
};

std::vector<std::string> names(const WaylandOutputs& outputs) {
  std::vector<std::string> list;
  for (const auto& o : outputs.outputs()) list.push_back(o.name);
  return list;
}
}  // namespace

TEST_F(Sway, ListsTheOutputsByConnectorNameWithIDsThatFollowTheName) {
  WaylandOutputs outputs(*session);
  int changes = 0;
  auto counted = outputs.changed.connect([&] { ++changes; });
  ASSERT_TRUE(pumpUntil(*session, [&] { return outputs.outputs().size() >= 2; }, 2s));
  const auto listed = names(outputs);
  EXPECT_NE(std::find(listed.begin(), listed.end(), "HEADLESS-1"), listed.end());
  EXPECT_NE(std::find(listed.begin(), listed.end(), "HEADLESS-2"), listed.end());
  EXPECT_GE(changes, 2);
  for (const auto& o : outputs.outputs()) {
    EXPECT_TRUE(o.online);
    EXPECT_EQ(o.id, WaylandOutputs::displayIDForName(o.name));
    EXPECT_EQ(outputs.name(o.id), o.name);
    EXPECT_NE(outputs.output(o.id), nullptr);
  }
  EXPECT_NE(WaylandOutputs::displayIDForName("HEADLESS-1"), WaylandOutputs::displayIDForName("HEADLESS-2"));

  // A new output is announced and listed; a second client sees the same IDs.
  const auto before = outputs.outputs().size();
  changes = 0;
  run("swaymsg create_output >/dev/null 2>&1");
  ASSERT_TRUE(pumpUntil(*session, [&] { return outputs.outputs().size() == before + 1; }, 3s));
  EXPECT_GE(changes, 1);
  std::string error;
  auto other = WaylandSession::connect(sway(), error);
  ASSERT_TRUE(other);
  WaylandOutputs again(*other);
  ASSERT_TRUE(pumpUntil(*other, [&] { return again.outputs().size() == before + 1; }, 2s));
  for (const auto& o : again.outputs()) EXPECT_EQ(outputs.name(o.id), o.name);
}

TEST_F(Sway, IdleTimeGrowsAndInjectedInputResetsItAndTellsThatTheUserIsBack) {
  RealTimeLoop clock;
  WaylandIdle idle(*session, clock.loop);
  ASSERT_EQ(idle.protocol(), WaylandIdle::Protocol::kdeIdle) << idle.description();
  type("a");
  EXPECT_EQ(idle.idleSeconds(), 0.0);
  // The compositor's own timeout tells when the idle time reaches a length.
  std::optional<double> reachedAt;
  auto reach = idle.whenIdleReaches(2, [&] { reachedAt = *idle.idleSeconds(); });
  ASSERT_TRUE(pumpUntil(*session, [&] { clock.sync(); return reachedAt.has_value(); }, 4s));
  EXPECT_GE(*reachedAt, 1.9);  // the one-second notification may be told a moment late
  EXPECT_LT(*reachedAt, 3.0);  // one-second resolution, not a stale counter

  int back = 0;
  auto userBack = idle.whenUserReturns([&] { ++back; });
  type("b");
  ASSERT_TRUE(pumpUntil(*session, [&] { clock.sync(); return back == 1; }, 1s));
  EXPECT_EQ(idle.idleSeconds(), 0.0);
}

TEST_F(Sway, HeadlessOutputsRefuseGammaSoTheDisplaysHaveNoneAndSayWhy) {
  WaylandOutputs outputs(*session);
  WaylandGammaTables gamma(*session, outputs);
  ASSERT_TRUE(gamma.isOffered());
  ASSERT_TRUE(pumpUntil(*session, [&] { return !outputs.outputs().empty(); }, 2s));
  const DisplayID id = outputs.outputs().front().id;
  EXPECT_EQ(gamma.size(id), 0u);
  EXPECT_EQ(gamma.unavailableReason(id), ControlStatus::gammaRefused);
  const GammaTable ramp{{0.0f, 0.5f}, {0.0f, 0.5f}, {0.0f, 0.5f}};
  EXPECT_EQ(gamma.write(id, ramp), GammaTables::Result::noGamma);
  GammaTable read = ramp;
  EXPECT_EQ(gamma.read(id, read), GammaTables::Result::noGamma);
  EXPECT_EQ(read, ramp);  // left alone
  EXPECT_EQ(gamma.size(0x1234), 0u);  // not an output
  EXPECT_EQ(gamma.write(0x1234, ramp), GammaTables::Result::noSuchOutput);

  // The gamma controller skips the display and records the reason for the menu.
  ControlStatusStore::shared().clear();
  NearBlackGammaController controller({.gamma = &gamma});
  EXPECT_EQ(controller.unavailableReason(id), std::string(ControlStatus::gammaRefused));
  controller.apply({{id, 20.0}}, {id}, {id}, 5);
  EXPECT_TRUE(controller.savedTables().empty());
  EXPECT_EQ(ControlStatusStore::shared().status(id), ControlStatus::gammaRefused);
  ControlStatusStore::shared().clear();
  EXPECT_TRUE(session->isAlive());
}
