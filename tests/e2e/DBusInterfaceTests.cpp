// SPDX-License-Identifier: GPL-3.0-or-later
// The session D-Bus interface of the real program, on a private bus, under
// the private X server: what each method does to the screen and the settings
// file, the properties and their change signals, refused arguments, and the
// hand-over of a second start.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>

#include "AppTestSupport.hpp"
#include "BusClient.hpp"

namespace {
constexpr const char* kName = kDimmoraBusName;
constexpr const char* kPath = kDimmoraObjectPath;
constexpr const char* kInterface = kDimmoraBusName;

std::optional<double> savedMaster(const TempTree& tree) {
  const auto text = readTextFile(tree.path("config/Dimmora/config.json"));
  if (!text) return std::nullopt;
  const auto config = nlohmann::json::parse(*text, nullptr, false);
  if (!config.is_object() || !config.contains("manualBrightnessPercent")) return std::nullopt;
  return config["manualBrightnessPercent"].get<double>();
}

std::uint64_t unixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Visible top-level windows of a process (the tray icon's own window included).
std::size_t visibleWindows(pid_t pid) {
  const auto text = run("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null");
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}
}  // namespace

class DBusInterface : public DimmoraApp {
 protected:
  void SetUp() override {
    DimmoraApp::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // No idle step: only the calls move the level.
    reconfigure([](nlohmann::json& config) { config["steps"].erase(1); });
    ASSERT_TRUE(bus.isRunning());
    ASSERT_TRUE(client.isConnected());
  }
  // Starts the program on the private bus and waits until it owns its name.
  std::unique_ptr<App> start() {
    auto app = std::make_unique<App>(tree, std::vector<std::string>{busEnvironment()});
    EXPECT_TRUE(waitFor([&] { return client.hasOwner(kName); }, 10s)) << "the program never took its bus name";
    return app;
  }
  BusClient::Result call(const std::string& method, const std::function<int(sd_bus_message*)>& append = {}) {
    return client.call(kName, kPath, interface, method, append);
  }
  BusClient::Result pause(double minutes) {
    return call("Pause", [minutes](sd_bus_message* m) { return sd_bus_message_append(m, "d", minutes); });
  }
  std::optional<double> property(const std::string& name) { return client.number(kName, kPath, kInterface, name); }

  std::string busEnvironment() const { return "DBUS_SESSION_BUS_ADDRESS=" + bus.address(); }

  PrivateSessionBus bus;
  BusClient client{bus.address()};
  std::string interface = kInterface;  // the calls' interface field; empty leaves it out
};

TEST_F(DBusInterface, MethodsMoveTheScreenAndTheSavedMasterLevelAndThePropertiesSignalTheirChanges) {
  auto app = start();
  ASSERT_TRUE(waitFor([&] { return property("CurrentPercent") == 100.0; }, 3s));
  EXPECT_EQ(property("MasterPercent"), 100.0);
  EXPECT_EQ(property("PausedUntil"), 0.0);
  EXPECT_LT(property("IdleSeconds").value_or(1e9), 60);

  sd_bus_message* displays = client.property(kName, kPath, kInterface, "Displays", "a(ussb)");
  ASSERT_TRUE(displays);
  ASSERT_GE(sd_bus_message_enter_container(displays, 'a', "(ussb)"), 0);
  std::uint32_t id = 0;
  const char* name = nullptr;
  const char* status = nullptr;
  int selected = 0;
  ASSERT_GT(sd_bus_message_read(displays, "(ussb)", &id, &name, &status, &selected), 0);
  EXPECT_EQ(id, outputID);
  EXPECT_STRNE(name, "");
  EXPECT_EQ(std::string(status).rfind("control_", 0), 0u) << status;
  EXPECT_TRUE(selected);
  sd_bus_message_unref(displays);

  client.watchPropertiesChanged(kName, kPath);
  client.pump(300ms);
  client.changes.clear();
  ASSERT_TRUE(call("DecreaseMaster").ok);
  ASSERT_TRUE(client.pump(2s, [&] {
    for (const auto& change : client.changes)
      if (change.numbers.count("MasterPercent")) return true;
    return false;
  }));
  const auto& first = client.changes.front();
  EXPECT_EQ(first.numbers.at("MasterPercent"), 95.0);
  EXPECT_EQ(first.numbers.at("CurrentPercent"), 95.0);

  ASSERT_TRUE(call("DecreaseMaster").ok);
  EXPECT_TRUE(waitFor([&] { return savedMaster(tree) == 90.0; }, 3s));
  const auto dimmedByGamma = xrandrBrightness();
  ASSERT_TRUE(dimmedByGamma);
  EXPECT_LT(*dimmedByGamma, 1.0);  // the full-gamma display followed
  EXPECT_EQ(property("MasterPercent"), 90.0);

  ASSERT_TRUE(call("IncreaseMaster").ok);
  EXPECT_TRUE(waitFor([&] { return savedMaster(tree) == 95.0; }, 3s));
  EXPECT_GT(xrandrBrightness().value_or(0), *dimmedByGamma);

  ASSERT_TRUE(call("RestoreMaximum").ok);
  EXPECT_TRUE(waitFor([&] { return savedMaster(tree) == 100.0 && atFull(); }, 3s));
  // Restoring holds dimming for five minutes, which reads as a pause.
  EXPECT_NEAR(property("PausedUntil").value_or(0), unixNow() + 300, 3);

  client.pump(0ms);
  client.changes.clear();
  ASSERT_TRUE(pause(30).ok);
  EXPECT_TRUE(client.pump(2s, [&] { return !client.changes.empty() && client.changes.back().numbers.count("PausedUntil"); }));
  EXPECT_NEAR(client.changes.back().numbers["PausedUntil"], unixNow() + 1800, 3);
  EXPECT_NEAR(property("PausedUntil").value_or(0), unixNow() + 1800, 3);
  ASSERT_TRUE(call("Resume").ok);
  EXPECT_EQ(property("PausedUntil"), 0.0);

  // The heads-up panel of the calls above goes first, so that only the window can add one.
  EXPECT_TRUE(waitFor([&] { return visibleWindows(app->pid()) <= 1; }, 5s));
  const auto before = visibleWindows(app->pid());
  ASSERT_TRUE(call("ShowWindow").ok);
  EXPECT_TRUE(waitFor([&] { return visibleWindows(app->pid()) > before; }, 3s));
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

TEST_F(DBusInterface, AFadeSignalsAtMostTenChangesASecond) {
  // The fixture's two-second step with a linear three-second fade at 60 frames a second.
  reconfigure([](nlohmann::json& config) {
    config["steps"] = dimmingConfig()["steps"];
    config["fadeDurationSeconds"] = 3;
    config["frameRate"] = 60;
  });
  auto app = start();
  client.watchPropertiesChanged(kName, kPath);
  // The idle time starts now, however long the start took, so the whole fade is watched.
  run("xdotool key shift");
  ASSERT_TRUE(waitFor([&] { return property("CurrentPercent") == 100.0; }, 10s));
  client.pump(0ms);
  client.changes.clear();

  struct Frame {
    std::chrono::steady_clock::time_point at;
    double level;
  };
  std::vector<Frame> frames;
  const auto collectFrames = [&] {
    frames.clear();
    for (const auto& change : client.changes)
      if (const auto level = change.numbers.find("CurrentPercent"); level != change.numbers.end() && level->second < 100)
        frames.push_back({change.at, level->second});
    return !frames.empty() && frames.back().level == 40.0;
  };
  // Only signals are read meanwhile: a property call would hold back the signals that arrive
  // during it and stamp them all with one arrival time.
  ASSERT_TRUE(client.pump(15s, collectFrames));
  client.pump(300ms);
  collectFrames();
  ASSERT_GE(frames.size(), 10u);  // the fade is seen as it goes
  EXPECT_LE(frames.size(), 32u);  // three seconds at ten a second, and the last frame
  for (std::size_t i = 1; i < frames.size(); ++i) {
    // Arrival times can bunch when the bus or this process falls behind. The linear fade
    // dates each signal on the program's own clock (60 % in 3 s, 2 % per 100 ms), less the
    // frame the level may trail the signal by; a pair sent too close is close on both.
    const auto arrivalGap = frames[i].at - frames[i - 1].at;
    const double fadeGapMs = (frames[i - 1].level - frames[i].level) / 60.0 * 3000.0;
    EXPECT_TRUE(arrivalGap >= 90ms || fadeGapMs >= 80.0)
        << "signal " << i << ": " << std::chrono::duration<double, std::milli>(arrivalGap).count()
        << " ms after the one before, " << fadeGapMs << " ms further into the fade";
  }
  EXPECT_EQ(frames.back().level, 40.0);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

// The same checks with the interface field of each call set, and left out: a method call's interface field
// is optional, and without it the member alone names the method.
class DBusCallsWithOrWithoutInterface : public DBusInterface, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    interface = GetParam();
    DBusInterface::SetUp();
  }
};

TEST_P(DBusCallsWithOrWithoutInterface, BadArgumentsAreRefusedWithAClearErrorAndTheProgramCarriesOn) {
  auto app = start();
  const auto decrease = call("DecreaseMaster");
  EXPECT_TRUE(decrease.ok) << decrease.errorName << ": " << decrease.errorMessage;
  EXPECT_TRUE(waitFor([&] { return savedMaster(tree) == 95.0; }, 3s));
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> refused[] = {
      {-5, "more than 0 minutes"}, {0, "more than 0 minutes"}, {-1, "more than 0 minutes, not -1"},
      {std::nan(""), "not a number"}, {inf, "at most"}, {1e12, "at most"},
      // Just past the limit: the refusal quotes the number as sent, not one rounded into the range.
      {1000000.0000001, "at most 1000000 minutes, not 1000000.0000001"},
  };
  for (const auto& [minutes, reason] : refused) {
    const auto result = pause(minutes);
    EXPECT_FALSE(result.ok) << minutes;
    EXPECT_EQ(result.errorName, "org.freedesktop.DBus.Error.InvalidArgs") << minutes;
    EXPECT_NE(result.errorMessage.find(reason), std::string::npos) << result.errorMessage;
  }
  EXPECT_EQ(property("PausedUntil"), 0.0);

  // Wrong types and counts are refused by the interface's signature.
  const auto text = call("Pause", [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "thirty"); });
  EXPECT_EQ(text.errorName, "org.freedesktop.DBus.Error.InvalidArgs") << text.errorMessage;
  const auto extra = call("IncreaseMaster", [](sd_bus_message* m) { return sd_bus_message_append(m, "u", 5u); });
  EXPECT_EQ(extra.errorName, "org.freedesktop.DBus.Error.InvalidArgs");
  const auto unknown = call("Frobnicate");
  EXPECT_EQ(unknown.errorName, "org.freedesktop.DBus.Error.UnknownMethod") << unknown.errorMessage;
  EXPECT_NE(unknown.errorMessage.find("Frobnicate"), std::string::npos) << unknown.errorMessage;
  EXPECT_FALSE(client.call(kName, kPath, "org.freedesktop.DBus.Properties", "Set", [](sd_bus_message* m) {
                 return sd_bus_message_append(m, "ssv", kInterface, "MasterPercent", "d", 10.0);
               }).ok);
  // Another path stays unknown.
  EXPECT_EQ(client.call(kName, "/elsewhere", GetParam(), "DecreaseMaster").errorName,
            "org.freedesktop.DBus.Error.UnknownObject");

  EXPECT_EQ(property("MasterPercent"), 95.0);
  EXPECT_TRUE(call("DecreaseMaster").ok);  // still serving
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(InterfaceField, DBusCallsWithOrWithoutInterface, ::testing::Values(kInterface, ""),
                         [](const auto& info) { return std::string(*info.param ? "Set" : "LeftOut"); });

TEST_F(DBusInterface, ASecondStartShowsTheFirstWindowLeavesTheScreenAloneAndExitsAndOneElsewhereRuns) {
  auto first = start();
  ASSERT_TRUE(call("DecreaseMaster").ok);
  ASSERT_TRUE(waitFor([&] { return savedMaster(tree) == 95.0; }, 3s));
  const auto level = xrandrBrightness();
  EXPECT_TRUE(waitFor([&] { return visibleWindows(first->pid()) <= 1; }, 5s));  // the heads-up panel has gone
  const auto windows = visibleWindows(first->pid());

  App second(tree, {busEnvironment()});
  EXPECT_EQ(second.waitExit(10s), 0);
  EXPECT_NE(log().find("Dimmora is already running"), std::string::npos);
  EXPECT_TRUE(waitFor([&] { return visibleWindows(first->pid()) > windows; }, 3s));
  EXPECT_EQ(xrandrBrightness(), level);  // the second never touched the gamma tables
  EXPECT_EQ(property("MasterPercent"), 95.0);  // and the first still answers

  // A start whose runtime folder names a file: no lock there, and the stand-in lock in its own temporary
  // folder is free, but the bus name tells it a copy runs.
  tree.write("not-a-folder", "");
  App third(tree, {busEnvironment(), "XDG_RUNTIME_DIR=" + tree.path("not-a-folder/run").string(),
                   "TMPDIR=" + tree.folder("second-tmp").string()});
  EXPECT_EQ(third.waitExit(10s), 0) << "a second copy ran on";
  const auto said = log().find("Dimmora is already running");
  EXPECT_NE(log().find("Dimmora is already running", said + 1), std::string::npos) << log();

  // Another engineer's or test's instance on the same bus has its own runtime folder: it is not "already running".
  TempTree other;
  std::filesystem::create_directories(other.path("run"));
  App elsewhere(other, {"DISPLAY="});
  EXPECT_EQ(elsewhere.waitExit(5s), 1);  // it went on to start (and stopped for want of a display)
  EXPECT_EQ(readTextFile(other.path("app.log")).value_or("").find("already running"), std::string::npos);

  EXPECT_EQ(first->stop(SIGTERM), 0);
  EXPECT_TRUE(atFull());
}

// The desktop portal's global shortcuts, from a fake portal on the private bus. The desktop
// binds all three, or answers success but binds fewer than it was asked for, or none at all
// (the answer KDE's portal 5.27 gave: success, and an empty list).
struct PortalAnswer {
  const char* name;
  const char* bind;     // the fake portal's option, if any
  const char* unbound;  // as the log names them, if any
  const char* bound;    // the log's line of bound shortcuts, if any
  double levels[4];     // after decrease, decrease, increase, restore
};

inline void PrintTo(const PortalAnswer& answer, std::ostream* out) { *out << answer.name; }

class PortalBinding : public DBusInterface, public ::testing::WithParamInterface<PortalAnswer> {
 protected:
  void SetUp() override {
    DBusInterface::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::vector<std::string> command{DIMMORA_SOURCE_DIR "/tests/e2e/fake_portal.py", tree.path("portal.json").string()};
    if (GetParam().bind) command.push_back(GetParam().bind);
    portal_ = std::make_unique<ChildProcess>(command, std::vector<std::string>{busEnvironment()},
                                             tree.path("portal.log"));
    ASSERT_TRUE(waitFor([&] { return client.hasOwner("org.freedesktop.portal.Desktop"); }, 5s))
        << readTextFile(tree.path("portal.log")).value_or("");
  }
  nlohmann::json record() {
    const auto parsed = nlohmann::json::parse(readTextFile(tree.path("portal.json")).value_or("{}"), nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json::object();
  }
  bool activate(const std::string& shortcut) {
    return client
        .call("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "io.github.dimmora.test.FakePortal",
              "Activate", [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", shortcut.c_str()); })
        .ok;
  }

 private:
  std::unique_ptr<ChildProcess> portal_;
};

TEST_P(PortalBinding, TheThreeActionsAreAskedForAndOnlyThoseBoundMoveTheMasterLevel) {
  auto app = start();
  ASSERT_TRUE(waitFor([&] { return record()["bound"].size() == 3; }, 5s)) << record().dump();
  const auto state = record();
  EXPECT_EQ(state["app_id"], "io.github.dimmora.Dimmora");
  EXPECT_EQ(state["sessions"].size(), 1u);  // one session, bound once
  std::map<std::string, std::string> triggers;
  for (const auto& shortcut : state["bound"]) {
    triggers[shortcut["id"]] = shortcut["preferred_trigger"];
    EXPECT_FALSE(shortcut["description"].get<std::string>().empty());
  }
  // The default keys, with the modifiers the X11 grabs would use.
  EXPECT_EQ(triggers, (std::map<std::string, std::string>{{"increase-master", "CTRL+ALT+SHIFT+F2"},
                                                          {"decrease-master", "CTRL+ALT+SHIFT+F1"},
                                                          {"restore-maximum", "CTRL+ALT+r"}}));
  const char* unbound = GetParam().unbound;
  if (unbound) {
    ASSERT_TRUE(waitFor([&] { return log().find("The desktop portal did not bind") != std::string::npos; }, 5s));
    EXPECT_NE(log().find(std::string("The desktop portal did not bind ") + unbound +
                         ": those shortcuts are unavailable; bind keys to Dimmora's D-Bus methods"),
              std::string::npos)
        << log();
  }
  // With the keys as the desktop words them.
  ASSERT_TRUE(waitFor([&] { return unbound || log().find("Global shortcuts bound") != std::string::npos; }, 5s));
  const std::string text = log();
  const auto bound = text.find("Global shortcuts bound through the desktop portal: ");
  if (GetParam().bound) {
    ASSERT_NE(bound, std::string::npos) << text;
    EXPECT_EQ(text.substr(bound, text.find('\n', bound) - bound), GetParam().bound);
  } else {
    EXPECT_EQ(bound, std::string::npos) << text;
  }
  EXPECT_EQ(text.find("did not bind") == std::string::npos, unbound == nullptr) << text;

  // An activation of a shortcut the desktop never bound is not passed on; a bound one is.
  const char* order[] = {"decrease-master", "decrease-master", "increase-master", "restore-maximum"};
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(activate(order[i]));
    EXPECT_TRUE(waitFor([&] { return property("MasterPercent") == GetParam().levels[i]; }, 3s)) << order[i];
    if (i == 1) {
      EXPECT_EQ(xrandrBrightness().value_or(1) < 1.0, GetParam().levels[1] < 100);
    }
  }
  ASSERT_TRUE(activate("no-such-shortcut"));  // ignored
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(property("MasterPercent"), GetParam().levels[3]);
  EXPECT_EQ(atFull(), GetParam().levels[3] == 100);
  if (GetParam().levels[1] < 100) {
    EXPECT_TRUE(waitFor([&] { return savedMaster(tree) == GetParam().levels[3]; }, 3s));
  }
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PortalBinding,
    ::testing::Values(PortalAnswer{"All", nullptr, nullptr,
                                   "Global shortcuts bound through the desktop portal: increase-master "
                                   "(Ctrl+ALT+SHIFT+F2), decrease-master (Ctrl+ALT+SHIFT+F1), restore-maximum "
                                   "(Ctrl+ALT+r)",
                                   {95, 90, 95, 100}},
                      PortalAnswer{"OnlyDecrease", "--bind=decrease-master", "increase-master, restore-maximum",
                                   "Global shortcuts bound through the desktop portal: decrease-master "
                                   "(Ctrl+ALT+SHIFT+F1)",
                                   {95, 90, 90, 90}},
                      PortalAnswer{"None", "--bind=", "increase-master, decrease-master, restore-maximum", nullptr,
                                   {100, 100, 100, 100}}),
    [](const auto& info) { return std::string(info.param.name); });
