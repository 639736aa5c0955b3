// SPDX-License-Identifier: GPL-3.0-or-later
// The binding against our own compositor (tests/compositor), which offers
// ext-idle-notify-v1, idle inhibitors and a gamma control that works: idle
// and resume, an application keeping the screen awake, a ramp that arrives,
// and a control the compositor refuses or takes back mid-session.
#include <gtest/gtest.h>

#include <vector>

#include "TestCompositorProcess.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/NearBlackGammaController.hpp"
#include "platform/wayland/WaylandGammaTables.hpp"
#include "platform/wayland/WaylandIdle.hpp"
#include "platform/linux/LinuxInhibitors.hpp"

namespace {
using namespace std::chrono_literals;

using OwnCompositor = OwnCompositorTest;

std::vector<float> ramp(double scale) {
  std::vector<float> r(256);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<float>(scale * static_cast<double>(i) / 255.0);
  return r;
}
}  // namespace

TEST_F(OwnCompositor, IdleAndResumeEventsDriveTheIdleSecondsAndTheRequests) {
  RealTimeLoop clock;
  WaylandIdle idle(*session, clock.loop);
  ASSERT_EQ(idle.protocol(), WaylandIdle::Protocol::extInputIdleNotify);
  EXPECT_EQ(compositor.expect("input idle notification", session.get()), "input idle notification 1000");
  int back = 0, reached = 0;
  const auto pump = [&](const std::function<bool()>& done) {
    return pumpUntil(*session, [&] { clock.sync(); return done(); }, 1s);
  };

  // Within the first idle second the user counts as here: a return is told at once.
  EXPECT_EQ(idle.idleSeconds(), 0.0);
  auto firstReturn = idle.whenUserReturns([&] { ++back; });
  ASSERT_TRUE(pump([&] { return back == 1; }));
  // A wanted length becomes a notification with the time still missing as its timeout.
  auto reach = idle.whenIdleReaches(5, [&] { ++reached; });
  EXPECT_EQ(compositor.expect("input idle notification", session.get()), "input idle notification 5000");

  compositor.send("idle");
  ASSERT_FALSE(compositor.expect("did idle", session.get()).empty());
  // The idled event means a second without input already; the count grows from there.
  ASSERT_TRUE(pump([&] { return *idle.idleSeconds() >= 1.3; }));
  auto secondReturn = idle.whenUserReturns([&] { ++back; });
  EXPECT_EQ(reached, 1);  // the compositor idled every notification at once
  EXPECT_EQ(back, 1);

  compositor.send("resume");
  ASSERT_TRUE(pump([&] { return back == 2; }));
  EXPECT_EQ(idle.idleSeconds(), 0.0);
  // A request dropped before its moment is never answered.
  auto dropped = idle.whenIdleReaches(2, [&] { ++reached; });
  EXPECT_EQ(compositor.expect("input idle notification", session.get()), "input idle notification 2000");
  dropped.cancel();
  compositor.send("idle");
  ASSERT_FALSE(compositor.expect("did idle", session.get()).empty());
  ASSERT_TRUE(pump([&] { return idle.idleSeconds() > 0.0; }));
  EXPECT_EQ(reached, 1);
}

TEST_F(OwnCompositor, ARampReachesTheCompositorAndTheIdentityLetsTheControlGo) {
  WaylandGammaTables gamma(*session, *outputs);
  EXPECT_EQ(gamma.size(output), 256u);
  // Learning the size does not keep the output from other tools.
  EXPECT_EQ(compositor.expect("gamma held", session.get()), "gamma held");
  EXPECT_EQ(compositor.expect("gamma released", session.get()), "gamma released");
  EXPECT_EQ(gamma.unavailableReason(output), "");

  GammaTable identity;
  ASSERT_EQ(gamma.read(output, identity), GammaTables::Result::ok);
  ASSERT_EQ(identity.size(), 256u);
  EXPECT_EQ(identity.red.front(), 0.0f);
  EXPECT_EQ(identity.blue.back(), 1.0f);
  const std::vector<float> short_(128, 0.5f);
  EXPECT_EQ(gamma.write(output, {short_, short_, short_}), GammaTables::Result::invalidSize);

  const auto half = ramp(0.5), quarter = ramp(0.25);
  ASSERT_EQ(gamma.write(output, {half, half, quarter}), GammaTables::Result::ok);
  EXPECT_EQ(compositor.expect("gamma ", session.get()), "gamma held");
  EXPECT_EQ(compositor.expect("gamma ", session.get()), "gamma 32768 32768 16384");
  ASSERT_EQ(gamma.write(output, identity), GammaTables::Result::ok);
  EXPECT_EQ(compositor.expect("gamma ", session.get()), "gamma released");
}

TEST_F(OwnCompositor, AControlTakenBackMidSessionLeavesTheDisplayWithoutGammaAndTheReason) {
  WaylandGammaTables gamma(*session, *outputs);
  ControlStatusStore::shared().clear();
  std::vector<DisplayID> failed;
  auto watch = gamma.controlFailed.connect([&](const DisplayID& id) { failed.push_back(id); });

  // Full-gamma mode at 40 %: the table is scaled and handed over.
  NearBlackGammaController controller({.gamma = &gamma});
  controller.apply({{output, 40.0}}, {output}, {output}, 5);
  ASSERT_EQ(controller.appliedScales().count(output), 1u);
  EXPECT_EQ(compositor.expect("gamma 2", session.get()), "gamma 26214 26214 26214");

  compositor.send("fail");
  ASSERT_TRUE(pumpUntil(*session, [&] { return !failed.empty(); }, 1s));
  EXPECT_EQ(failed.front(), output);
  EXPECT_EQ(gamma.size(output), 0u);
  EXPECT_EQ(controller.unavailableReason(output), std::string(ControlStatus::gammaRevoked));
  controller.apply({{output, 30.0}}, {output}, {output}, 5);
  EXPECT_EQ(ControlStatusStore::shared().status(output), ControlStatus::gammaRevoked);
  ControlStatusStore::shared().clear();
  EXPECT_TRUE(session->isAlive());
}

TEST_F(OwnCompositor, ARefusedControlIsAskedForAgainWhenTheOutputsChange) {
  WaylandGammaTables gamma(*session, *outputs);
  const auto half = ramp(0.5);

  // Another tool holds the output's tables: refused, with the reason, and not asked again on every use.
  auto other = std::make_unique<GammaHolder>(compositor.socket(), output);
  EXPECT_EQ(compositor.expect("gamma 3", other->session.get()), "gamma 32768 32768 32768");
  EXPECT_EQ(gamma.size(output), 0u);
  EXPECT_EQ(compositor.expect("gamma refused", session.get()), "gamma refused");
  EXPECT_EQ(gamma.unavailableReason(output), ControlStatus::gammaRefused);
  EXPECT_EQ(NearBlackGammaController::unavailableReason(&gamma, output), std::string(ControlStatus::gammaRefused));

  // The tool quits; until the outputs change, the display stays without gamma.
  other.reset();
  EXPECT_EQ(compositor.expect("gamma released", session.get()), "gamma released");
  EXPECT_EQ(gamma.size(output), 0u);
  EXPECT_EQ(gamma.write(output, {half, half, half}), GammaTables::Result::noGamma);

  // A new output appears: the refused control is asked for again, and granted.
  compositor.send("plug DP-8");
  ASSERT_TRUE(pumpUntil(*session, [&] { return outputs->outputs().size() == 2; }, 2s));
  EXPECT_EQ(gamma.size(output), 256u);
  EXPECT_EQ(gamma.unavailableReason(output), "");
  EXPECT_EQ(NearBlackGammaController::unavailableReason(&gamma, output), std::nullopt);
  NearBlackGammaController controller({.gamma = &gamma});
  controller.apply({{output, 40.0}}, {output}, {output}, 5);
  EXPECT_EQ(controller.appliedScales().count(output), 1u);
  EXPECT_EQ(compositor.expect("gamma 2", session.get()), "gamma 26214 26214 26214");
  controller.restoreAll();
  EXPECT_EQ(compositor.expect("gamma released", session.get()), "gamma released");

  // Refused again while held elsewhere; the tool quits, and the output itself goes and comes back: asked again.
  other = std::make_unique<GammaHolder>(compositor.socket(), output);
  EXPECT_EQ(compositor.expect("gamma 3", other->session.get()), "gamma 32768 32768 32768");
  EXPECT_EQ(gamma.write(output, {half, half, half}), GammaTables::Result::noGamma);
  other.reset();
  EXPECT_EQ(compositor.expect("gamma released", session.get()), "gamma released");
  compositor.send("unplug DP-7");
  ASSERT_TRUE(pumpUntil(*session, [&] { return outputs->outputs().size() == 1; }, 2s));
  EXPECT_EQ(gamma.size(output), 0u) << "no such output now";
  compositor.send("plug DP-7");
  ASSERT_TRUE(pumpUntil(*session, [&] { return outputs->outputs().size() == 2; }, 2s));
  EXPECT_EQ(gamma.size(output), 256u);
  EXPECT_TRUE(session->isAlive());
}

TEST_F(OwnCompositor, AnInhibitorDoesNotStopTheInputIdleTimeAndCountsAsMediaPlayback) {
  RealTimeLoop clock;
  WaylandIdle idle(*session, clock.loop);
  ASSERT_EQ(idle.protocol(), WaylandIdle::Protocol::extInputIdleNotify);
  ASSERT_EQ(compositor.expect("idle notification", session.get()), "idle notification 1000");
  EXPECT_EQ(idle.inhibitorHeld(), false);
  EXPECT_EQ(idle.note(), "");

  // Idle without an inhibitor: both notifications idle, so nothing keeps the screen awake.
  compositor.send("idle");
  ASSERT_FALSE(compositor.expect("did idle", session.get()).empty());
  ASSERT_TRUE(pumpUntil(*session, [&] { clock.sync(); return *idle.idleSeconds() >= 2.1; }, 2s));
  EXPECT_EQ(idle.inhibitorHeld(), false);

  // A player starts: the ordinary notification is woken and held, the input one stays idle.
  InhibitingClient player(compositor.socket());
  ASSERT_TRUE(player.holds());
  ASSERT_EQ(compositor.expect("inhibitor held", session.get()), "inhibitor held");
  ASSERT_TRUE(pumpUntil(*session, [&] { clock.sync(); return idle.inhibitorHeld() == true; }, 1s));
  EXPECT_GE(*idle.idleSeconds(), 2.1);  // the idle time goes on

  // As the inhibitor the media-playback pause reads.
  const auto held = LinuxInhibitors::holders(std::nullopt, std::nullopt, idle.inhibitorHeld());
  ASSERT_TRUE(held && held->size() == 1);
  EXPECT_EQ(held->front().who, "compositor");
  EXPECT_EQ(held->front().what, Inhibitors::What::idle);

  // Input: not idle, and while the user is active the inhibitor cannot be told (nor does it matter).
  compositor.send("resume");
  ASSERT_TRUE(pumpUntil(*session, [&] { return idle.idleSeconds() == 0.0; }, 1s));
  EXPECT_EQ(idle.inhibitorHeld(), false);
  // Idle again with the player still holding it: seen after the grace second.
  compositor.send("idle");
  ASSERT_FALSE(compositor.expect("did idle", session.get()).empty());
  EXPECT_TRUE(pumpUntil(*session, [&] { clock.sync(); return idle.inhibitorHeld() == true; }, 2s));
  player.release();
  ASSERT_EQ(compositor.expect("inhibitor released", session.get()), "inhibitor released");
}

// A compositor with ext-idle-notify-v1 version 1, which has no input-only idle time.
class OwnCompositorVersion1 : public OwnCompositorTest {
 protected:
  OwnCompositorVersion1() : OwnCompositorTest({"--idle-notify-version=1"}) {}
};

TEST_F(OwnCompositorVersion1, WithoutInputIdleTimeAnInhibitorIsOnlySuspectedAfterTenQuietMinutes) {
  VirtualMainLoop loop;
  WaylandIdle idle(*session, loop);
  int changes = 0;
  auto changed = idle.changed.connect([&] { ++changes; });
  ASSERT_EQ(idle.protocol(), WaylandIdle::Protocol::extIdleNotify);
  ASSERT_EQ(compositor.expect("idle notification", session.get()), "idle notification 1000");
  EXPECT_EQ(idle.inhibitorHeld(), std::nullopt);  // cannot be seen here

  InhibitingClient player(compositor.socket());
  ASSERT_EQ(compositor.expect("inhibitor held", session.get()), "inhibitor held");
  compositor.send("idle");  // the compositor holds the notification awake
  ASSERT_FALSE(compositor.expect("did idle", session.get()).empty());
  session->roundtrip();
  EXPECT_EQ(idle.idleSeconds(), 0.0);
  loop.advance(WaylandIdle::kHeldAwakeSeconds - 1);
  EXPECT_EQ(idle.note(), "");
  EXPECT_EQ(changes, 0);
  loop.advance(1);
  EXPECT_EQ(idle.note(), "idle_time_held_awake");
  EXPECT_EQ(changes, 1);  // said when it starts, not found by asking

  // The player stops; the next idle second ends the suspicion.
  player.release();
  ASSERT_EQ(compositor.expect("inhibitor released", session.get()), "inhibitor released");
  compositor.send("idle");
  ASSERT_FALSE(compositor.expect("did idle", session.get()).empty());
  ASSERT_TRUE(pumpUntil(*session, [&] { return idle.idleSeconds() > 0.0; }, 1s));
  EXPECT_EQ(idle.note(), "");
  EXPECT_EQ(changes, 2);
  compositor.send("resume");
  ASSERT_TRUE(pumpUntil(*session, [&] { return idle.idleSeconds() == 0.0; }, 1s));
  loop.advance(WaylandIdle::kHeldAwakeSeconds - 1);
  EXPECT_EQ(idle.note(), "");  // ten minutes count from the last idle moment's end
}
