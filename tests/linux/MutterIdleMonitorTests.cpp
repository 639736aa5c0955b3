// SPDX-License-Identifier: GPL-3.0-or-later
// GNOME's idle source against a headless Mutter on a private session bus
// (scripts/test.d/mutter.sh starts it with the debugging call that resets the
// idle time, which Mutter treats as user input).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>


#include "SessionBusTestSupport.hpp"
#include "platform/linux/MutterIdleMonitor.hpp"
#include "platform/qt/QtMainLoop.hpp"

namespace {
// Calls Mutter's idle monitor on a connection of the test's own; a failure is the test's.
int callIdleMonitor(sd_bus* bus, const char* member, sd_bus_message** reply = nullptr) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const int r = sd_bus_call_method(bus, MutterIdleMonitor::kService, "/org/gnome/Mutter/IdleMonitor/Core",
                                   "org.gnome.Mutter.IdleMonitor", member, &error, reply, "");
  if (r < 0) ADD_FAILURE() << member << ": " << (error.message ? error.message : "failed");
  sd_bus_error_free(&error);
  return r;
}

// Mutter's own answer.
double mutterIdleSeconds(sd_bus* bus) {
  sd_bus_message* reply = nullptr;
  std::uint64_t milliseconds = 0;
  const int r = callIdleMonitor(bus, "GetIdletime", &reply) >= 0 ? sd_bus_message_read(reply, "t", &milliseconds) : -1;
  sd_bus_message_unref(reply);
  return r >= 0 ? static_cast<double>(milliseconds) / 1000 : -1;
}

// What a key press does to Mutter's idle monitor.
bool simulateInput(sd_bus* bus) { return callIdleMonitor(bus, "ResetIdletime") >= 0; }

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class HeadlessMutter : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* address = std::getenv("DIMMORA_MUTTER_BUS");
    if (!address) GTEST_SKIP() << "no headless Mutter (scripts/test starts one where Mutter can run)";
    product = std::make_unique<BusConnection>(address);
    control = std::make_unique<BusConnection>(address);
    ASSERT_TRUE(product->get() && control->get());
  }
  // Lets the product's connection deliver for `seconds`, or until `done`.
  bool pump(double seconds, const std::function<bool()>& done = [] { return false; }) {
    return pumpBuses({product->get()}, done, seconds, [this] { clock.sync(); });
  }

  std::unique_ptr<BusConnection> product;
  std::unique_ptr<BusConnection> control;
  RealTimeLoop clock;
  MainLoop& loop = clock.loop;
};
}  // namespace

TEST_F(HeadlessMutter, IdleTimeGrowsAndTheFirstInputAfterAPauseIsAnnouncedAtOnce) {
  ASSERT_TRUE(simulateInput(control->get()));
  MutterIdleMonitor monitor(product->get(), loop);
  ASSERT_TRUE(monitor.isAvailable());
  int back = 0;
  std::optional<double> reachedAt;
  // Mutter's own watch tells when the idle time reaches a length.
  auto reach = monitor.whenIdleReaches(2, [&] { reachedAt = mutterIdleSeconds(control->get()); });

  // Idle time grows with Mutter's own, within the watch's one-second resolution.
  pump(2.5);
  const auto idle = monitor.idleSeconds();
  ASSERT_TRUE(idle);
  EXPECT_NEAR(*idle, mutterIdleSeconds(control->get()), 1.0);
  EXPECT_GT(*idle, 1.9);
  ASSERT_TRUE(reachedAt);
  EXPECT_NEAR(*reachedAt, 2.0, 0.3);

  // Input: announced within a moment, and the idle time starts again from 0.
  auto userBack = monitor.whenUserReturns([&] { ++back; });
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(simulateInput(control->get()));
  ASSERT_TRUE(pump(1, [&] { return back == 1; }));
  const double latency = secondsSince(pressed);
  EXPECT_LT(latency, 0.2);  // typically a few milliseconds
  RecordProperty("input_to_activity_us", static_cast<int>(latency * 1e6));
  EXPECT_EQ(monitor.idleSeconds(), 0);

  // Input that goes on keeps it at 0; a request is answered once.
  for (int press = 0; press < 8; ++press) {
    pump(0.25);
    ASSERT_TRUE(simulateInput(control->get()));
    EXPECT_LT(*monitor.idleSeconds(), 1.0);
  }
  EXPECT_EQ(back, 1);

  // Once it stops, the idle time grows again, and the next input answers the next request.
  pump(2.2);
  EXPECT_NEAR(*monitor.idleSeconds(), mutterIdleSeconds(control->get()), 0.5);
  EXPECT_GT(*monitor.idleSeconds(), 1.5);
  int backAgain = 0;
  auto nextReturn = monitor.whenUserReturns([&] { ++backAgain; });
  pump(0.1);
  EXPECT_EQ(backAgain, 0);  // not before the input
  ASSERT_TRUE(simulateInput(control->get()));
  ASSERT_TRUE(pump(1, [&] { return backAgain == 1; }));
}

TEST(MutterIdleMonitor, WithoutMutterTheIdleTimeIsUnknownAndThatIsLogged) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.isRunning());
  BusConnection connection(bus.address());
  ScopedLogRecorder log;
  QtMainLoop loop;
  MutterIdleMonitor monitor(connection.get(), loop);
  EXPECT_FALSE(monitor.isAvailable());
  EXPECT_FALSE(monitor.idleSeconds());
  EXPECT_TRUE(logMentions(*log, "GNOME's idle monitor does not answer"));
}

TEST_F(HeadlessMutter, AMutterThatLeavesAndComesBackIsFollowed) {
  // A Mutter of this test's own, on a bus of its own, that can be stopped.
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.isRunning());
  TemporaryFolder runtime{"dimmora-mutter"};
  std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
  auto startMutter = [&] {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{"mutter", "--headless", "--wayland", "--no-x11", "--virtual-monitor", "640x480"},
        std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + bus.address(), "XDG_RUNTIME_DIR=" + runtime.path().string(),
                                 "MUTTER_DEBUG_RESET_IDLETIME=1", "WAYLAND_DISPLAY=", "DISPLAY="},
        runtime.path() / "mutter.log");
  };
  BusConnection connection(bus.address());
  BusConnection controlConnection(bus.address());
  const auto present = [&] { return DBusSession::nameHasOwner(controlConnection.get(), MutterIdleMonitor::kService); };
  const auto sync = [this] { clock.sync(); };
  const auto pumpOwn = [&](const std::function<bool()>& done, double seconds) {
    return pumpBuses({connection.get()}, done, seconds, sync);
  };
  auto mutter = startMutter();
  ASSERT_TRUE(pumpOwn(present, 20)) << "Mutter did not start";

  ScopedLogRecorder log;
  MutterIdleMonitor monitor(connection.get(), loop);
  ASSERT_TRUE(monitor.isAvailable());
  mutter.reset();
  ASSERT_TRUE(pumpOwn([&] { return !monitor.isAvailable(); }, 5));
  EXPECT_FALSE(monitor.idleSeconds());
  EXPECT_TRUE(logMentions(*log, "GNOME's idle monitor left the session bus"));

  // The new instance knows nothing of the old watches: they are set up again.
  mutter = startMutter();
  ASSERT_TRUE(pumpOwn([&] { return monitor.isAvailable(); }, 20));
  // Idle for over a watch's second, so that only input can answer the request.
  ASSERT_TRUE(pumpOwn([&] { return monitor.idleSeconds().value_or(0) >= 1.2; }, 5));
  int back = 0;
  auto userBack = monitor.whenUserReturns([&] { ++back; });
  pumpOwn([] { return false; }, 0.1);
  EXPECT_EQ(back, 0);
  ASSERT_TRUE(simulateInput(controlConnection.get()));
  EXPECT_TRUE(pumpOwn([&] { return back == 1; }, 1));
}
