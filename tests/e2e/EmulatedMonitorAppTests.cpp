// SPDX-License-Identifier: GPL-3.0-or-later
// The real program on emulated monitors: build/dimmora under the private X
// server, inside a umockdev testbed whose connectors carry the EDIDs of the
// server's outputs, so each output pairs with a connector, its i2c bus and
// the monitor model answering there. Observed from the monitors' side.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "AppTestSupport.hpp"
#include "BusClient.hpp"
#include "kernel/KernelTestbed.hpp"

// Xlib's macros (None, Status) after every header that uses those words.
#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

namespace {
using Milliseconds = std::chrono::duration<double, std::milli>;

struct BrightnessWrite {
  MonitorClock::time_point at;
  int value;
};

std::vector<BrightnessWrite> brightnessWrites(const MonitorModel& monitor) {
  static const std::regex set(R"(^set 0x10=(\d+)$)");
  std::vector<BrightnessWrite> writes;
  for (const auto& t : monitor.transfers()) {
    std::smatch match;
    if (std::regex_match(t.meaning, match, set)) writes.push_back({t.at, std::stoi(match[1])});
  }
  return writes;
}

std::vector<MonitorTransfer> ddcciTransfers(const MonitorModel& monitor) {
  std::vector<MonitorTransfer> found;
  for (auto& t : monitor.transfers())
    if (t.address == MonitorModel::kDDCCIAddress) found.push_back(std::move(t));
  return found;
}

// The least time between two Set VCP messages on the bus.
Milliseconds smallestWriteSpacing(const std::vector<BrightnessWrite>& writes) {
  Milliseconds least(1e9);
  for (std::size_t i = 1; i < writes.size(); ++i) least = std::min<Milliseconds>(least, writes[i].at - writes[i - 1].at);
  return least;
}

// Transfers on one bus follow each other, and a Get VCP request is followed
// by its reply read through the same open file, nothing between them.
void expectOneTransactionAtATime(const std::vector<MonitorTransfer>& transfers) {
  for (std::size_t i = 1; i < transfers.size(); ++i) {
    EXPECT_GE(transfers[i].at, transfers[i - 1].end) << "transfer " << i << " overlaps the one before";
    if (transfers[i - 1].meaning.rfind("get ", 0) == 0) {
      EXPECT_EQ(transfers[i].kind, MonitorTransfer::Kind::read) << "transfer " << i;
      EXPECT_EQ(transfers[i].client, transfers[i - 1].client) << "transfer " << i;
    }
  }
}

constexpr const char* kName = "io.github.dimmora.Dimmora";
constexpr const char* kPath = "/io/github/dimmora/Dimmora";
}  // namespace

// Up to four outputs of the private server, each given the EDID of a monitor
// plugged into the testbed. Steps: 40 % after 2 idle seconds.
class EmulatedMonitorApp : public ::testing::Test {
 protected:
  TempTree tree;
  KernelTestbed testbed;
  PrivateSessionBus bus;
  std::unique_ptr<X11Session> session;
  struct Screen {
    std::uint32_t output;
    std::string outputName;
    int bus;
    MonitorModel* monitor;
  };
  std::vector<Screen> screens;

  void SetUp() override {
    REQUIRE_X_SERVER();
    session = X11Session::open();
    ASSERT_TRUE(session);
    std::filesystem::create_directories(tree.path("run"));
    std::filesystem::permissions(tree.path("run"), std::filesystem::perms::owner_all);
  }

  void TearDown() override {
    if (::testing::Test::HasFailure())
      std::fprintf(stderr, "app log:\n%s\n", readTextFile(tree.path("app.log")).value_or("").c_str());
    if (!session) return;
    // Leave the shared server as it was found: one output, no EDIDs, full gamma.
    Display* display = session->display();
    const Atom edid = XInternAtom(display, "EDID", False);
    for (const auto& screen : screens) {
      XRRDeleteOutputProperty(display, screen.output, edid);
      if (screen.outputName != "DUMMY0") run("xrandr --output " + screen.outputName + " --off");
    }
    XSync(display, False);
    run("xrandr --output DUMMY0 --gamma 1:1:1");
  }

  // A monitor plugged into connector `connector` and shown by the server's
  // next output, which carries the same EDID.
  MonitorModel& plug(const std::string& connector, MonitorBehaviour behaviour) {
    const auto index = screens.size();
    const std::string outputName = "DUMMY" + std::to_string(index);
    const auto edid = makeEdid("DMA", static_cast<std::uint16_t>(0x100 + index), 1000 + static_cast<int>(index),
                               "Emulated " + std::to_string(index));
    auto [number, monitor] = testbed.plugMonitor(connector, edid, behaviour);
    if (index > 0) {
      run("xrandr --addmode " + outputName + " 1280x720 2>/dev/null; xrandr --output " + outputName +
          " --mode 1280x720 --right-of DUMMY" + std::to_string(index - 1));
    }
    session->processPending();  // the server's notification drops the cached outputs
    RandrScreen randr(*session);
    std::uint32_t output = 0;
    for (const auto& o : randr.outputs())
      if (o.name == outputName && o.isOnline()) output = o.id;
    EXPECT_NE(output, 0u) << outputName << " did not come online: " << run("xrandr");
    Display* display = session->display();
    XRRChangeOutputProperty(display, output, XInternAtom(display, "EDID", False), XA_INTEGER, 8, PropModeReplace,
                            edid.data(), static_cast<int>(edid.size()));
    XSync(display, False);
    screens.push_back({output, outputName, number, monitor});
    return *monitor;
  }

  void configure(double fadeSeconds) {
    nlohmann::json selected = nlohmann::json::array();
    for (const auto& screen : screens) selected.push_back(screen.output);
    const nlohmann::json config = {
        {"steps", {{{"id", "EAD05D0D-830B-495E-B47F-F02CA8CF7D4A"}, {"idleSeconds", 0}, {"brightnessPercent", 100}},
                   {{"id", "718A23E6-BF5A-4B99-AEBB-204C8AD781E7"}, {"idleSeconds", 2}, {"brightnessPercent", 40}}}},
        {"fadeDurationSeconds", fadeSeconds},
        {"frameRate", 24},
        {"fadeCurve", "linear"},
        {"selectedDisplayIDs", selected}};
    tree.write("config/Dimmora/config.json", config.dump(2));
  }

  std::unique_ptr<App> start() {
    run("xdotool key shift");
    auto environment = testbed.environment();
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.address());
    environment.push_back("DIMMORA_TRACE=1");
    // The preload library comes before the sanitizer's runtime.
    environment.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    return std::make_unique<App>(tree, environment);
  }

  // The level a monitor rests at when dimmed to 40 % of its range from
  // `maximum` percent down to the 5 % floor, in the monitor's own units of 100.
  static int dimmedValue(double maximumPercent) {
    return static_cast<int>(std::lround(5 + (maximumPercent - 5) * 0.4));
  }

  std::string controlStatus(std::uint32_t output) {
    BusClient client(bus.address());
    sd_bus_message* displays = client.property(kName, kPath, kName, "Displays", "a(ussb)");
    std::string found;
    if (!displays) return found;
    if (sd_bus_message_enter_container(displays, 'a', "(ussb)") >= 0) {
      std::uint32_t id = 0;
      const char* name = nullptr;
      const char* status = nullptr;
      int selected = 0;
      while (sd_bus_message_read(displays, "(ussb)", &id, &name, &status, &selected) > 0)
        if (id == output) found = status;
    }
    sd_bus_message_unref(displays);
    return found;
  }
};

TEST_F(EmulatedMonitorApp, AnIdleStepFadesTheMonitorAndInputRestoresIt) {
  auto& monitor = plug("DP-1", {.brightness = 80, .setQuietTime = std::chrono::milliseconds(50)});
  configure(6);
  const auto app = start();

  // At start the program reads the monitor's brightness: its maximum from now on.
  ASSERT_TRUE(waitFor([&] { return !ddcciTransfers(monitor).empty(); }, 10s));
  const auto first = ddcciTransfers(monitor);
  EXPECT_EQ(first.front().meaning, "get 0x10");

  // The idle step: a fade down to 40 % of 5...80, one value at a time.
  const int dimmed = dimmedValue(80);
  ASSERT_TRUE(waitFor([&] { return monitor.brightness() == dimmed; }, 20s)) << monitor.brightness();
  std::this_thread::sleep_for(500ms);  // nothing more once there
  const auto fade = brightnessWrites(monitor);
  ASSERT_GE(fade.size(), 2u);
  EXPECT_TRUE(std::is_sorted(fade.rbegin(), fade.rend(),
                             [](const BrightnessWrite& a, const BrightnessWrite& b) { return a.value < b.value; }));
  EXPECT_EQ(fade.back().value, dimmed);
  const auto spacing = smallestWriteSpacing(fade);
  EXPECT_GE(spacing, Milliseconds(50));
  const auto transfers = ddcciTransfers(monitor);
  expectOneTransactionAtATime(transfers);
  for (const auto& t : transfers) EXPECT_EQ(t.meaning.rfind("ignored", 0), std::string::npos) << t.meaning;

  // Another DDC/CI tool reads what the program wrote.
  const auto ddcutil = testbed.run("ddcutil --bus " + std::to_string(screens[0].bus) + " getvcp 10");
  EXPECT_NE(ddcutil.find("current value =    " + std::to_string(dimmed) + ","), std::string::npos) << ddcutil;

  const auto key = MonitorClock::now();
  run("xdotool key a");
  const auto keyReturned = MonitorClock::now();
  ASSERT_TRUE(waitFor([&] { return monitor.brightness() == 80; }, 2s)) << monitor.brightness();
  const auto writes = brightnessWrites(monitor);
  const auto restoring = std::find_if(writes.begin(), writes.end(),
                                      [&](const BrightnessWrite& w) { return w.at > key && w.value > dimmed; });
  ASSERT_NE(restoring, writes.end());
  std::printf("figures: %zu writes in a 6 s fade from 80 to %d, smallest spacing %.1f ms, first restoring write "
              "%.1f ms after xdotool started, %.1f ms after it returned\n",
              fade.size(), dimmed, spacing.count(), Milliseconds(restoring->at - key).count(),
              Milliseconds(restoring->at - keyReturned).count());
  EXPECT_LT(restoring->at - key, 500ms);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

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
    const auto writes = brightnessWrites(*screen.monitor);
    ASSERT_GE(writes.size(), 2u);
    firstLast = std::min(firstLast, writes.back().at);
    lastFirst = std::max(lastFirst, writes.front().at);
    EXPECT_GE(smallestWriteSpacing(writes), Milliseconds(50));
    const auto transfers = ddcciTransfers(*screen.monitor);
    expectOneTransactionAtATime(transfers);
    for (const auto& t : transfers) EXPECT_EQ(t.meaning.rfind("ignored", 0), std::string::npos) << t.meaning;
    std::printf("figures: %s (i2c-%d) %zu writes in a 2 s fade, smallest spacing %.1f ms\n",
                screen.outputName.c_str(), screen.bus, writes.size(), smallestWriteSpacing(writes).count());
  }
  EXPECT_LT(lastFirst, firstLast);

  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return all(100); }, 3s));
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

TEST_F(EmulatedMonitorApp, AMonitorInStandbyIsRetriedAndABusHeldElsewhereIsWaitedFor) {
  auto& sleeper = plug("DP-1", {});
  auto& held = plug("HDMI-A-1", {});
  configure(2);
  const auto app = start();
  const int dimmed = dimmedValue(100);

  // As the fade begins, one monitor goes to standby and another program takes the other's bus.
  ASSERT_TRUE(waitFor([&] { return !brightnessWrites(sleeper).empty() && !brightnessWrites(held).empty(); }, 20s));
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
  std::printf("figures: %td NAKed transfers during a 2.5 s standby; held bus caught up %.0f ms after release\n", naks,
              Milliseconds(brightnessWrites(held).back().at - heldUntil).count());

  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return sleeper.brightness() == 100 && held.brightness() == 100; }, 3s));
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

TEST_F(EmulatedMonitorApp, AMonitorWithDDCCISwitchedOffIsReportedAndNotAskedEndlessly) {
  auto& monitor = plug("DP-1", {.ddcciEnabled = false});
  configure(2);
  const auto app = start();
  // The idle step comes after 2 s; by 12 s the back-off has had time to show.
  std::this_thread::sleep_for(12s);
  EXPECT_EQ(controlStatus(screens[0].output), "control_failed");
  const auto transfers = ddcciTransfers(monitor);
  ASSERT_FALSE(transfers.empty());
  for (const auto& t : transfers) EXPECT_EQ(t.meaning, "nak (DDC/CI off)");
  // Attempts come in pairs (a write and its retry), and the pairs further and further apart.
  EXPECT_LE(transfers.size(), 12u);
  std::vector<Milliseconds> gaps;
  for (std::size_t i = 1; i < transfers.size(); ++i)
    if (transfers[i].at - transfers[i - 1].at > 200ms) gaps.push_back(transfers[i].at - transfers[i - 1].at);
  ASSERT_GE(gaps.size(), 2u);
  EXPECT_GT(gaps.back(), gaps.front());
  std::printf("figures: DDC/CI off: %zu transfers in 12 s\n", transfers.size());
  EXPECT_EQ(app->stop(SIGTERM), 0);
}
