// SPDX-License-Identifier: GPL-3.0-or-later
// The real program on emulated monitors, observed from the monitors' side:
// what reaches each bus, when, and what the monitor's register holds.
#include <sstream>

#include "EmulatedMonitorTestSupport.hpp"

// The longest the main thread may spend in one blocking call other than its
// loop's wait: input waits no longer than this for any monitor.
constexpr Milliseconds kLongestStall{5};

// The idle step fades a monitor down, one value at a time in the units its
// reply gave, and input brings back the level its user had.
struct FadingMonitor {
  const char* name;
  MonitorBehaviour behaviour;
  double fadeSeconds;
};

inline void PrintTo(const FadingMonitor& monitor, std::ostream* out) { *out << monitor.name; }

class AFadingMonitor : public EmulatedMonitorApp, public ::testing::WithParamInterface<FadingMonitor> {};

TEST_P(AFadingMonitor, IsFadedInItsOwnUnitsAndInputRestoresIt) {
  auto& monitor = plug("DP-1", GetParam().behaviour);
  configure(GetParam().fadeSeconds);
  const auto app = start();
  const int full = GetParam().behaviour.brightness;
  const int maximum = GetParam().behaviour.maximum;

  // At start the program reads the monitor's brightness: its maximum from now on.
  ASSERT_TRUE(waitFor([&] { return !ddcciTransfers(monitor).empty(); }, 10s));
  const auto first = ddcciTransfers(monitor);
  EXPECT_EQ(first.front().meaning, "get 0x10");

  // The idle step: a fade down to 40 % of the range from the user's level to the floor, one value at a time.
  const int dimmed = static_cast<int>(std::lround(dimmedValue(100.0 * full / maximum) * maximum / 100.0));
  ASSERT_TRUE(waitFor([&] { return monitor.brightness() == dimmed; }, 20s)) << monitor.brightness();
  std::this_thread::sleep_for(500ms);  // nothing more once there
  const auto fade = monitor.brightnessWrites();
  ASSERT_GE(fade.size(), 2u);
  EXPECT_TRUE(std::is_sorted(fade.rbegin(), fade.rend(),
                             [](const BrightnessWrite& a, const BrightnessWrite& b) { return a.value < b.value; }));
  EXPECT_EQ(fade.back().value, dimmed);
  for (const auto& write : fade) EXPECT_LE(write.value, full);
  // The fade starts near the top, not at a percentage taken for the monitor's own units.
  EXPECT_GT(fade.front().value, dimmed + 0.7 * (full - dimmed));
  expectOrderlyTransfers(monitor);

  // Another DDC/CI tool reads what the program wrote.
  const auto ddcutil = testbed.run("ddcutil --bus " + std::to_string(screens[0].bus) + " getvcp 10");
  EXPECT_TRUE(std::regex_search(ddcutil, std::regex("current value = +" + std::to_string(dimmed) +
                                                    ", max value = +" + std::to_string(maximum))))
      << ddcutil;

  const auto key = MonitorClock::now();
  run("xdotool key a");
  ASSERT_TRUE(waitFor([&] { return monitor.brightness() == full; }, 3s)) << monitor.brightness();
  const auto writes = monitor.brightnessWrites();
  const auto restoring = std::find_if(writes.begin(), writes.end(),
                                      [&](const BrightnessWrite& w) { return w.at > key && w.value > dimmed; });
  ASSERT_NE(restoring, writes.end());
  EXPECT_LT(restoring->at - key, 500ms);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Monitors, AFadingMonitor,
    ::testing::Values(FadingMonitor{"At80", {.brightness = 80, .setQuietTime = 50ms}, 6},
                      FadingMonitor{"CountingTo255", {.maximum = 255, .brightness = 255}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulatedMonitorApp, MonitorsOnSeparateBusesFadeTogetherWhateverTheirPace) {
  // A well-behaved monitor; one that needs its 40 ms for a reply and ignores
  // a Set VCP sooner than 50 ms after its last message; one that answers
  // every other try; one that holds the bus 100 ms per transfer.
  plug("DP-1", {});
  plug("HDMI-A-1", {.replyPreparation = 40ms, .setQuietTime = 50ms});
  plug("DP-2", {.answersEveryOtherTry = true});
  plug("DP-3", {.transferTime = 100ms});
  configure(2);
  const auto app = start();
  const MainThreadProbe probe(app->pid());
  const int dimmed = dimmedValue(100);
  const auto all = [&](int value) {
    return std::all_of(screens.begin(), screens.end(), [&](const Screen& s) { return s.monitor->brightness() == value; });
  };
  ASSERT_TRUE(waitFor([&] { return all(dimmed); }, 20s));

  // Together: every bus had its first fade write before any had its last.
  MonitorClock::time_point firstLast = MonitorClock::time_point::max();
  MonitorClock::time_point lastFirst;
  for (const auto& screen : screens) {
    SCOPED_TRACE(screen.outputName);
    const auto writes = screen.monitor->brightnessWrites();
    ASSERT_GE(writes.size(), 2u);
    firstLast = std::min(firstLast, writes.back().at);
    lastFirst = std::max(lastFirst, writes.front().at);
    expectOrderlyTransfers(*screen.monitor);
  }
  EXPECT_LT(lastFirst, firstLast);

  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return all(100); }, 3s));
  // Transfers run on their buses' threads: the monitor that holds each for 100 ms stalls no one.
  EXPECT_LT(probe.longestBlockedOtherThanFutex(), kLongestStall);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

TEST_F(EmulatedMonitorApp, AMonitorInStandbyIsRetriedAndABusHeldElsewhereIsWaitedFor) {
  auto& sleeper = plug("DP-1", {});
  auto& held = plug("HDMI-A-1", {});
  configure(2);
  const auto app = start();
  const int dimmed = dimmedValue(100);

  // As the fade begins, one monitor goes to standby and another program takes the other's bus.
  ASSERT_TRUE(waitFor([&] { return !sleeper.brightnessWrites().empty() && !held.brightnessWrites().empty(); }, 20s));
  sleeper.standbyFor(2500ms);
  const auto heldFrom = MonitorClock::now();
  auto lock = testbed.holdBus(screens[1].bus);
  std::this_thread::sleep_for(2s);
  lock.reset();
  const auto heldUntil = MonitorClock::now();

  EXPECT_TRUE(waitFor([&] { return sleeper.brightness() == dimmed && held.brightness() == dimmed; }, 10s))
      << sleeper.brightness() << " " << held.brightness();
  // Nothing reached the held bus while the lock was taken.
  for (const auto& t : held.transfers())
    EXPECT_FALSE(t.at > heldFrom + 5ms && t.at < heldUntil) << t.meaning;
  // The sleeping monitor was asked again, not flooded.
  const auto transfers = sleeper.transfers();
  const auto naks = std::count_if(transfers.begin(), transfers.end(),
                                  [](const MonitorTransfer& t) { return t.meaning == "nak (standby)"; });
  EXPECT_GE(naks, 1);
  EXPECT_LE(naks, 8);

  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return sleeper.brightness() == 100 && held.brightness() == 100; }, 3s));
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

TEST_F(EmulatedMonitorApp, AMonitorWithDDCCISwitchedOffIsReportedAndNotAskedEndlessly) {
  auto& monitor = plug("DP-1", {.ddcciEnabled = false});
  configure(2);
  const auto startedAt = MonitorClock::now();
  const auto app = start();
  // The idle step comes after 2 s, shown through gamma; by 12 s the back-off has had time to show.
  const double step = dimmedValue(100) / 100.0;
  EXPECT_TRUE(waitFor([&] { return xrandrBrightness().value_or(1) <= step + 0.005; }, 10s)) << xrandrBrightness().value_or(1);
  std::this_thread::sleep_until(startedAt + 12s);
  EXPECT_NEAR(xrandrBrightness().value_or(1), step, 0.01);
  // The window says the monitor does not answer DDC/CI, and that its menu may have switched it off.
  EXPECT_EQ(client.displayStatus(screens[0].output), "control_ddc_silent");
  const auto transfers = ddcciTransfers(monitor);
  ASSERT_FALSE(transfers.empty());
  for (const auto& t : transfers) EXPECT_EQ(t.meaning, "nak (DDC/CI off)");
  // Attempts come further and further apart.
  EXPECT_LE(transfers.size(), 12u);
  std::vector<Milliseconds> gaps;
  for (std::size_t i = 1; i < transfers.size(); ++i)
    if (transfers[i].at - transfers[i - 1].at > 200ms) gaps.push_back(transfers[i].at - transfers[i - 1].at);
  ASSERT_GE(gaps.size(), 2u);
  EXPECT_GT(gaps.back(), gaps.front());

  // A key puts the original table back at once, before the next idle step 2 s later.
  EXPECT_LT(keyRestoresTheGammaTable(screens[0].output), 500ms);
  EXPECT_EQ(xrandrBrightness(), 1.0);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

// A monitor its user set to 70 whose brightness cannot be read at first, or
// only after a wait, or only on a second try, is read all the same: the idle
// step dims it from 70, a key brings 70 back, and 70 is what the settings keep.
struct LateMonitor {
  const char* name;
  MonitorBehaviour behaviour;
  std::chrono::milliseconds busHeldFor{0};
};

inline void PrintTo(const LateMonitor& monitor, std::ostream* out) { *out << monitor.name; }

class ALateMonitor : public EmulatedMonitorApp, public ::testing::WithParamInterface<LateMonitor> {};

TEST_P(ALateMonitor, IsDimmedFromItsOwnLevelAndBroughtBackToIt) {
  auto& monitor = plug("DP-1", GetParam().behaviour);
  configure(2);
  auto lock = GetParam().busHeldFor > 0ms ? testbed.holdBus(screens[0].bus) : nullptr;
  const auto startedAt = MonitorClock::now();
  const auto app = start();
  const MainThreadProbe probe(app->pid());
  if (lock) {
    std::this_thread::sleep_until(startedAt + GetParam().busHeldFor);
    lock.reset();
  }
  const int dimmed = dimmedValue(70);
  ASSERT_TRUE(waitFor([&] { return monitor.brightness() == dimmed; }, 30s)) << monitor.brightness();
  EXPECT_TRUE(waitFor([&] { return storedMaximum(screens[0].output) == 70; }, 5s))
      << storedMaximum(screens[0].output).value_or(-1);

  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return monitor.brightness() == 70; }, 3s)) << monitor.brightness();
  std::this_thread::sleep_for(300ms);
  const auto writes = monitor.brightnessWrites();
  for (const auto& write : writes) EXPECT_LE(write.value, 70) << "written brighter than its user had it";
  EXPECT_EQ(monitor.brightness(), 70);
  // Waits for a reply are the loop's timers and transfers run on the bus's
  // thread: the main thread never sleeps through them nor blocks in them.
  ASSERT_GT(probe.samples(), 1000);
  EXPECT_LT(probe.longestSleep(), 5ms);
  EXPECT_LT(probe.longestBlockedOtherThanFutex(), kLongestStall);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(
    SetTo70, ALateMonitor,
    ::testing::Values(LateMonitor{"InStandbyFor8s", {.brightness = 70, .standbyAtStart = 8s}},
                      LateMonitor{"BusHeldFor6s", {.brightness = 70}, 6s},
                      LateMonitor{"Needs50msPerReply", {.brightness = 70, .replyPreparation = 50ms}},
                      LateMonitor{"Needs150msPerReply", {.brightness = 70, .replyPreparation = 150ms}},
                      LateMonitor{"CorruptsEveryOtherReply", {.brightness = 70, .corruptEveryNthReply = 2}},
                      LateMonitor{"Takes100msPerTransfer", {.brightness = 70, .transferTime = 100ms}}),
    [](const auto& info) { return std::string(info.param.name); });

// Beside Plasma's brightness service, which drives the monitors it names
// itself: the stand-in offers display0 (and display1) with the labels given,
// both monitors at 80. A monitor paired with it gets our levels through it,
// without its indicator, and nothing on its bus; any other is ours.
struct BesidePlasma {
  const char* name;
  std::vector<std::string> labels;
  bool firstThroughService;
};

inline void PrintTo(const BesidePlasma& beside, std::ostream* out) { *out << beside.name; }

class PlasmaBrightness : public EmulatedMonitorApp, public ::testing::WithParamInterface<BesidePlasma> {
 protected:
  // Our requests (the test's own set no flag), in order.
  std::vector<int> ourLevels(const std::string& display) {
    std::vector<int> levels;
    std::istringstream lines(readTextFile(tree.path("plasma.jsonl")).value_or(""));
    for (std::string line; std::getline(lines, line);) {
      const auto record = nlohmann::json::parse(line, nullptr, false);
      if (record.is_object() && record["display"] == display && record["flags"] == 1)
        levels.push_back(record["brightness"].get<int>());
    }
    return levels;
  }
  bool lastOfOursIs(int level) {
    const auto levels = ourLevels("display0");
    return !levels.empty() && levels.back() == level;
  }
};

TEST_P(PlasmaBrightness, DrivesTheMonitorsItOffersThroughItAndTakesALevelSetElsewhereForTheUsers) {
  auto& first = plug("DP-1", {.brightness = 80});
  auto& second = plug("HDMI-A-1", {.brightness = 80});
  nlohmann::json offered = nlohmann::json::array();
  for (std::size_t i = 0; i < GetParam().labels.size(); ++i)
    offered.push_back({{"name", "display" + std::to_string(i)}, {"label", GetParam().labels[i]}, {"max", 100},
                       {"brightness", 80}});
  ChildProcess service({"/usr/bin/python3", DIMMORA_SOURCE_DIR "/tests/e2e/fake_screen_brightness.py",
                        tree.path("plasma.jsonl").string(), offered.dump()},
                       {"DBUS_SESSION_BUS_ADDRESS=" + bus.address()}, tree.path("plasma.log"));
  ASSERT_TRUE(waitFor([&] { return client.hasOwner("org.kde.ScreenBrightness"); }, 5s))
      << readTextFile(tree.path("plasma.log")).value_or("");
  configure(2);
  const auto app = start();

  const int dimmed = dimmedValue(80);
  auto* ours = GetParam().firstThroughService ? &second : &first;
  ASSERT_TRUE(waitFor([&] { return second.brightness() == dimmed && ours->brightness() == dimmed; }, 20s));
  if (GetParam().firstThroughService) {
    ASSERT_TRUE(waitFor([&] { return lastOfOursIs(dimmed); }, 3s));
  }
  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return second.brightness() == 80 && ours->brightness() == 80; }, 3s));
  if (!GetParam().firstThroughService) {
    EXPECT_TRUE(ourLevels("display0").empty() && ourLevels("display1").empty()) << "nothing is sent to the service";
    EXPECT_NE(readTextFile(tree.path("app.log")).value_or("").find("is one of 2 displays of that name: not told apart"),
              std::string::npos);
    EXPECT_EQ(app->stop(SIGTERM), 0);
    return;
  }
  EXPECT_TRUE(waitFor([&] { return lastOfOursIs(80); }, 3s));
  const auto fade = ourLevels("display0");
  EXPECT_GE(fade.size(), 10u) << "the fade goes through the service frame by frame";

  // Another client (the desktop's slider) sets 60 while the user is active, past the watch for a dimmer's
  // late restore: the next dim starts there and comes back to it.
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(800ms);
    run("xdotool key a");
  }
  ASSERT_TRUE(client.call("org.kde.ScreenBrightness", "/org/kde/ScreenBrightness/display0",
                          "org.kde.ScreenBrightness.Display", "SetBrightness",
                          [](sd_bus_message* m) { return sd_bus_message_append(m, "iu", 60, 0u); }).ok);
  EXPECT_TRUE(waitFor([&] { return lastOfOursIs(dimmedValue(60)); }, 10s)) << ourLevels("display0").back();
  for (const int level : ourLevels("display0")) EXPECT_LE(level, 80);
  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return lastOfOursIs(60); }, 3s)) << ourLevels("display0").back();
  // The monitor the service drives never saw a transfer of ours; the other was driven on its bus.
  EXPECT_TRUE(first.transfers().empty()) << first.transfers().front().meaning;
  EXPECT_EQ(first.brightness(), 80);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlasmaBrightness,
                         ::testing::Values(BesidePlasma{"TheMonitorItNames", {"Emulated 0"}, true},
                                           BesidePlasma{"TwoOfOneNameAreLeftToUs", {"Emulated 0", "Emulated 0"}, false}),
                         [](const auto& info) { return std::string(info.param.name); });
