// SPDX-License-Identifier: GPL-3.0-or-later
// GNOME's gamma binding against Debian's real Mutter, run as the window
// manager of an Xorg of the test's own (the dummy driver keeps real CRTC
// gamma, which xrandr reads back), on a private session bus. Another
// connection plays the other programs: a night light setting Mutter's table,
// gnome-settings-daemon announcing a new temperature, and Mutter 49's colour
// manager (a stand-in, as Debian 12 has Mutter 43).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "SessionBusTestSupport.hpp"
#include "ThrowawayServer.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/NearBlackGammaController.hpp"
#include "platform/linux/MutterGammaTables.hpp"

namespace {
constexpr DisplayID kDummy = 1;    // Mutter's output DUMMY0, on CRTC 0
constexpr DisplayID kVirtual = 2;  // a connector Mutter lists no CRTC for
constexpr const char* kPath = "/org/gnome/Mutter/DisplayConfig";

std::optional<std::string> connectorOf(DisplayID displayID) {
  if (displayID == kDummy) return "DUMMY0";
  if (displayID == kVirtual) return "Meta-0";
  return std::nullopt;
}

GammaRamps scaledRamps(const GammaRamps& ramps, double factor) {
  GammaTable table = gammaTable(ramps);
  for (auto* channel : {&table.red, &table.green, &table.blue})
    for (float& entry : *channel) entry = static_cast<float>(entry * factor);
  return gammaRamps(table);
}

// Equal but for the rounding of a scaled entry.
bool nearlyEqual(const GammaRamps& a, const GammaRamps& b) {
  const auto near = [](const std::vector<std::uint16_t>& x, const std::vector<std::uint16_t>& y) {
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
      if (std::abs(int(x[i]) - int(y[i])) > 1) return false;
    return true;
  };
  return near(a.red, b.red) && near(a.green, b.green) && near(a.blue, b.blue);
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

class MutterOnOwnXorg : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* conf = std::getenv("DIMMORA_XORG_CONF");
    if (!conf || run("command -v mutter").empty()) {
      if (std::getenv("CI")) FAIL() << "CI runs scripts/test, which exports DIMMORA_XORG_CONF, with Mutter installed";
      GTEST_SKIP() << "no Xorg configuration (scripts/test exports one) or no mutter";
    }
    server = std::make_unique<ThrowawayServer>(std::vector<std::string>{
        "Xorg", "-config", conf, "-configdir", tree.folder("none").string(), "-logfile",
        tree.path("xorg.log").string(), "-noreset", "-nolisten", "tcp"});
    ASSERT_TRUE(server->session()) << "Xorg did not start";
    ASSERT_TRUE(bus.isRunning());
    mutter = std::make_unique<ChildProcess>(
        std::vector<std::string>{"mutter", "--x11", "--replace"},
        std::vector<std::string>{"DISPLAY=" + server->name(), "DBUS_SESSION_BUS_ADDRESS=" + bus.address()},
        tree.path("mutter.log"));
    product = std::make_unique<BusConnection>(bus.address());
    other = std::make_unique<BusConnection>(bus.address());
    ASSERT_TRUE(product->get() && other->get());
    ASSERT_TRUE(pump(20, [&] { return shown().has_value(); })) << "Mutter did not offer its display configuration";
    original = *shown();
  }
  bool pump(double seconds, const std::function<bool()>& done) {
    return pumpBuses({product->get(), other->get()}, done, seconds, [this] { clock.sync(); });
  }
  std::uint32_t serial() {
    sd_bus_message* reply = nullptr;
    std::uint32_t serial = 0;
    if (sd_bus_call_method(other->get(), MutterGammaTables::kService, kPath, MutterGammaTables::kService,
                           "GetResources", nullptr, &reply, "") >= 0)
      sd_bus_message_read(reply, "u", &serial);
    sd_bus_message_unref(reply);
    return serial;
  }
  // Mutter's table on CRTC 0 as any client reads it.
  std::optional<GammaRamps> shown() { return mutterCall(nullptr); }
  // What another program (a night light) does: sets CRTC 0's table through Mutter.
  bool setByAnotherProgram(const GammaRamps& ramps) { return mutterCall(&ramps).has_value(); }
  std::optional<GammaRamps> mutterCall(const GammaRamps* ramps) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_call(other->get(), &call, MutterGammaTables::kService, kPath,
                                           MutterGammaTables::kService, ramps ? "SetCrtcGamma" : "GetCrtcGamma");
    if (r >= 0) r = sd_bus_message_append(call, "uu", serial(), 0u);
    if (ramps)
      for (const auto* channel : {&ramps->red, &ramps->green, &ramps->blue})
        if (r >= 0) r = sd_bus_message_append_array(call, 'q', channel->data(), channel->size() * 2);
    if (r >= 0) r = sd_bus_call(other->get(), call, 0, nullptr, &reply);
    GammaRamps answer;
    for (auto* channel : {&answer.red, &answer.green, &answer.blue}) {
      const void* data = nullptr;
      std::size_t bytes = 0;
      if (r >= 0 && !ramps && (r = sd_bus_message_read_array(reply, 'q', &data, &bytes)) >= 0)
        channel->assign(static_cast<const std::uint16_t*>(data), static_cast<const std::uint16_t*>(data) + bytes / 2);
    }
    sd_bus_message_unref(call);
    sd_bus_message_unref(reply);
    if (r < 0 || (!ramps && answer.red.empty())) return std::nullopt;
    return answer;
  }
  // gnome-settings-daemon's announcement of a new night-light temperature.
  void announceTemperature(std::uint32_t kelvin) {
    if (!colorSettingsNamed) colorSettingsNamed = sd_bus_request_name(other->get(), "org.gnome.SettingsDaemon.Color", 0) >= 0;
    ASSERT_TRUE(colorSettingsNamed);
    sd_bus_message* signal = nullptr;
    int r = sd_bus_message_new_signal(other->get(), &signal, "/org/gnome/SettingsDaemon/Color",
                                      "org.freedesktop.DBus.Properties", "PropertiesChanged");
    if (r >= 0) r = sd_bus_message_append(signal, "sa{sv}as", "org.gnome.SettingsDaemon.Color", 1, "Temperature", "u",
                                          kelvin, 0);
    if (r >= 0) r = sd_bus_send(other->get(), signal, nullptr);
    sd_bus_message_unref(signal);
    ASSERT_GE(r, 0);
  }
  std::string xrandrBrightness() {
    const std::string text = server->run("xrandr --verbose");
    const auto at = text.find("Brightness: ");
    return at == std::string::npos ? "" : text.substr(at + 12, text.find('\n', at) - at - 12);
  }

  TempTree tree;
  std::unique_ptr<ThrowawayServer> server;
  PrivateSessionBus bus;
  std::unique_ptr<ChildProcess> mutter;
  std::unique_ptr<BusConnection> product;
  std::unique_ptr<BusConnection> other;
  RealTimeLoop clock;
  GammaRamps original;
  bool colorSettingsNamed = false;
};
}  // namespace

TEST_F(MutterOnOwnXorg, TablesGoThroughMutterAndTheOriginalComesBack) {
  ScopedLogRecorder log;
  MutterGammaTables tables(product->get(), clock.loop, connectorOf);
  ASSERT_TRUE(tables.isOffered());
  EXPECT_FALSE(tables.usesColorManager());
  ASSERT_EQ(tables.size(kDummy), 256u);
  GammaTable table;
  ASSERT_EQ(tables.read(kDummy, table), GammaTables::Result::ok);
  EXPECT_EQ(gammaRamps(table), original);

  // Written through Mutter, the table is the CRTC's: xrandr reads it back.
  const GammaRamps dimmed = scaledRamps(original, 0.4);
  ASSERT_EQ(tables.write(kDummy, gammaTable(dimmed)), GammaTables::Result::ok);
  EXPECT_EQ(shown(), dimmed);
  EXPECT_EQ(xrandrBrightness(), "0.40");
  EXPECT_EQ(tables.write(kDummy, {{0.5f}, {0.5f}, {0.5f}}), GammaTables::Result::invalidSize);

  // The monitors change unseen (the product's bus is not read): the stale serial is renewed and the write goes through.
  const auto before = serial();
  server->run("xrandr --output DUMMY0 --mode 1024x576");
  ASSERT_TRUE(pumpBuses({other->get()}, [&] { return serial() != before; }, 3));
  const GammaRamps darker = scaledRamps(original, 0.2);
  ASSERT_EQ(tables.write(kDummy, gammaTable(darker)), GammaTables::Result::ok);
  EXPECT_EQ(shown(), darker);
  EXPECT_EQ(xrandrBrightness(), "0.20");

  // The restore: the original, as it was.
  ASSERT_EQ(tables.write(kDummy, table), GammaTables::Result::ok);
  EXPECT_EQ(shown(), original);
  EXPECT_EQ(xrandrBrightness(), "1.0");

  // A table left dimmed (a copy that died dimmed) is never the original a later start keeps.
  ASSERT_TRUE(setByAnotherProgram(scaledRamps(original, 0.3)));
  MutterGammaTables next(product->get(), clock.loop, connectorOf);
  ASSERT_EQ(next.read(kDummy, table), GammaTables::Result::ok);
  EXPECT_EQ(gammaRamps(table), identityRamps(256));
  EXPECT_TRUE(logMentions(*log, "dimmed below half brightness, so it is not its own"));

  // A connector Mutter gives no CRTC has no table, and says why, once.
  for (int ask = 0; ask < 3; ++ask) {
    EXPECT_EQ(next.size(kVirtual), 0u);
    EXPECT_EQ(next.write(kVirtual, table), GammaTables::Result::noSuchOutput);
  }
  EXPECT_EQ(next.unavailableReason(kVirtual), ControlStatus::gammaNoCrtc);
  int said = 0;
  for (const auto& entry : log->entries) said += entry.message.find("Meta-0 no CRTC") != std::string::npos;
  EXPECT_EQ(said, 1);
}

// Mutter rebuilds a CRTC's table itself (a night light's temperature, a profile, a monitor change): ours goes
// over its new one, so the tint is kept and dimmed, and the restore at quit puts back Mutter's latest.
TEST_F(MutterOnOwnXorg, ATableMutterRebuildsIsFollowedByOursOverItsNewOne) {
  MutterGammaTables tables(product->get(), clock.loop, connectorOf);
  NearBlackGammaController controller({&tables, nullptr});
  controller.apply({{kDummy, 40}}, {kDummy}, {kDummy}, 5);
  ASSERT_EQ(shown(), scaledRamps(original, 0.4));

  struct Case {
    const char* what;
    double green, blue;  // the night light's tint
    std::function<void()> announce;
    double rebuiltAfter;  // seconds from the signal to the rebuild; 0: before it
  };
  const std::vector<Case> cases = {
      {"a new night-light temperature", 0.85, 0.7, [&] { announceTemperature(4500); }, 0},
      {"a monitor change", 0.75, 0.55, [&] { server->run("xrandr --output DUMMY0 --mode 1024x576"); }, 0},
      {"a rebuild 1.5 s after its signal", 0.8, 0.6, [&] { announceTemperature(5000); }, 1.5},
  };
  GammaRamps tint;
  for (const auto& c : cases) {
    tint = original;
    tint.green = scaledRamps(original, c.green).green;
    tint.blue = scaledRamps(original, c.blue).blue;
    const bool before = c.rebuiltAfter == 0;
    ASSERT_TRUE(!before || setByAnotherProgram(tint)) << c.what;
    c.announce();
    pump(c.rebuiltAfter, [] { return false; });
    ASSERT_TRUE(before || setByAnotherProgram(tint)) << c.what;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(pump(3, [&] { return nearlyEqual(*shown(), scaledRamps(tint, 0.4)); })) << c.what;
    const double latency = millisecondsSince(start);
    std::printf("ours back %.1f ms after %s\n", latency, c.what);
    EXPECT_LT(latency, 1000) << c.what;  // a few milliseconds unloaded
    // Ours stays: nothing more is written, nor read at rest once the follow-ups are done.
    pump(4.2, [] { return false; });
    EXPECT_TRUE(nearlyEqual(*shown(), scaledRamps(tint, 0.4))) << c.what;
  }
  // A signal with nothing rebuilt leaves ours alone.
  announceTemperature(4000);
  pump(0.3, [] { return false; });
  EXPECT_TRUE(nearlyEqual(*shown(), scaledRamps(tint, 0.4)));

  controller.restoreAll();
  EXPECT_TRUE(nearlyEqual(*shown(), tint)) << "the night light's latest tint, undimmed";
}

// Mutter 49's colour manager: a table of ours is a calibration, and the restore stops it.
TEST_F(MutterOnOwnXorg, WhereTheColorManagerIsOfferedOurTableIsACalibrationThatStops) {
  const auto record = tree.path("color-manager.jsonl");
  ChildProcess standIn({"/usr/bin/python3", DIMMORA_TESTS_DIR "/linux/fake_color_manager.py", record.string(), "256"},
                       {"DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
  ASSERT_TRUE(pump(10, [&] { return DBusSession::nameHasOwner(other->get(), MutterGammaTables::kColorManager); }));
  const auto calls = [&] {
    std::vector<nlohmann::json> list;
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);) list.push_back(nlohmann::json::parse(line));
    return list;
  };
  MutterGammaTables tables(product->get(), clock.loop, connectorOf);
  ASSERT_TRUE(tables.usesColorManager());
  GammaTable table;
  ASSERT_EQ(tables.read(kDummy, table), GammaTables::Result::ok);
  for (const double factor : {0.4, 0.3})
    ASSERT_EQ(tables.write(kDummy, gammaTable(scaledRamps(original, factor))), GammaTables::Result::ok);
  announceTemperature(4500);  // a calibration is not rebuilt by Mutter: nothing to read back
  pump(0.3, [] { return false; });
  ASSERT_EQ(tables.write(kDummy, table), GammaTables::Result::ok);
  ASSERT_TRUE(pump(3, [&] { return calls().size() >= 4; }));

  const auto list = calls();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0]["call"], "CalibrateMonitor");
  EXPECT_EQ(list[0]["connector"], "DUMMY0");
  const std::string path = list[0]["path"];
  for (const auto& [index, factor] : {std::pair{1, 0.4}, {2, 0.3}}) {
    EXPECT_EQ(list[index]["call"], "SetCrtcGammaLut");
    EXPECT_EQ(list[index]["path"], path);
    EXPECT_EQ(list[index]["blue"].get<std::vector<std::uint16_t>>(), scaledRamps(original, factor).blue);
  }
  EXPECT_EQ(list[3]["call"], "Stop");
  EXPECT_EQ(list[3]["path"], path);
  EXPECT_EQ(shown(), original) << "nothing went through the display configuration";
}
