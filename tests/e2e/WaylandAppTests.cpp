// SPDX-License-Identifier: GPL-3.0-or-later
// The real executable in a Wayland session: under the headless sway and
// Mutter of scripts/test.d it dims after the idle step and comes back on
// input (injected with wtype under sway, Mutter's ResetIdletime under Mutter),
// observed through its display-control trace; under our own compositor,
// whose gamma control works, the tables themselves show it. Started with
// only XWayland's DISPLAY it finds the compositor or refuses to dim. Under
// sway its window and heads-up panel are looked at as the compositor has them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include <QImage>

#include "../wayland/TestCompositorProcess.hpp"
#include "AppTestSupport.hpp"
#include "BusClient.hpp"
#include "platform/wayland/WaylandGammaTables.hpp"
#include "platform/wayland/WaylandOutputs.hpp"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// dimmingConfig()'s steps; `extra` adds settings.
void writeConfig(const TempTree& tree, const nlohmann::json& extra = nlohmann::json::object()) {
  auto config = dimmingConfig();
  config.update(extra);
  prepareHome(tree, config);
}

class WaylandApp : public ProgramTest {
 protected:
  std::string sway;

  void SetUp() override { writeConfig(tree); }
  void type(const std::string& text) const { run("WAYLAND_DISPLAY='" + sway + "' wtype '" + text + "' 2>&1"); }
  // The levels the engine handed to the displays, in order.
  std::vector<int> levels() const {
    std::vector<int> list;
    const std::string text = log();
    const std::string marker = "apply logicalBrightness=";
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1))
      list.push_back(std::stoi(text.substr(at + marker.size())));
    return list;
  }

  // Input for twice the idle step keeps the displays at rest; left alone they
  // fade to the step; one `input` brings them back within 100 ms.
  void neverDimsWhileInputGoesOnAndComesBackOnInput(App& app, const std::function<void()>& input) {
    ASSERT_GT(app.pid(), 0);
    ASSERT_TRUE(waitFor([&] { return !levels().empty(); }, 5s));
    for (int i = 0; i < 8; ++i) {
      input();
      std::this_thread::sleep_for(500ms);
    }
    for (int level : levels()) EXPECT_EQ(level, 100);

    ASSERT_TRUE(waitFor([&] { return !levels().empty() && levels().back() == 40; }, 6s));
    const auto dimmed = levels().size();
    EXPECT_GT(dimmed, 3u);  // through a fade

    const auto started = Clock::now();
    input();
    const auto returned = Clock::now();
    bool restored = false;
    while (!restored && Clock::now() - started < 2s) {
      const auto now = levels();
      restored = now.size() > dimmed && now.back() == 100;
      if (!restored) std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(restored);
    EXPECT_LT(Clock::now() - returned, 100ms);
    EXPECT_EQ(app.stop(SIGTERM), 0);
  }
};
}  // namespace

TEST_F(WaylandApp, NeverDimsWhileTypingDimsAfterTheIdleStepAndComesBackOnInput) {
  REQUIRE_SWAY();
  sway = std::getenv("DIMMORA_SWAY_DISPLAY");
  App app(tree, {"DISPLAY=", "WAYLAND_DISPLAY=" + sway, "DIMMORA_TRACE=1"});
  neverDimsWhileInputGoesOnAndComesBackOnInput(app, [&] { type("x"); });
  expectSaid({"Wayland session", "Idle time from the compositor through"});
  // Said once, in this desktop's terms; and Qt is not asked for a signal only its X11 platform has.
  EXPECT_TRUE(saidOnce("Global shortcuts are unavailable"));
  EXPECT_NE(log().find("Global shortcuts are unavailable: no desktop portal offers"), std::string::npos);
  EXPECT_EQ(log().find("Cannot register the global shortcut"), std::string::npos);
  EXPECT_EQ(log().find("systemTrayWindowChanged"), std::string::npos);
}

TEST_F(WaylandApp, UnderGnomeIdleTimeAndInputComeFromMutter) {
  REQUIRE_FACILITY("DIMMORA_MUTTER_DISPLAY", "headless Mutter");
  REQUIRE_FACILITY("DIMMORA_MUTTER_BUS", "headless Mutter");
  const std::string display = std::getenv("DIMMORA_MUTTER_DISPLAY"), bus = std::getenv("DIMMORA_MUTTER_BUS");
  // Its virtual monitor, dimmed through gamma alone: Mutter lists no CRTC for it.
  const DisplayID virtualMonitor = WaylandOutputs::displayIDForName("Meta-0");
  writeConfig(tree, {{"selectedDisplayIDs", {virtualMonitor}}, {"displayFullGammaModes", {virtualMonitor, true}}});
  App app(tree, {"DISPLAY=", "WAYLAND_DISPLAY=" + display, "DBUS_SESSION_BUS_ADDRESS=" + bus,
                 "DIMMORA_TRACE=1"});
  const std::string reset = "dbus-send --bus='" + bus +
                            "' --print-reply --dest=org.gnome.Mutter.IdleMonitor /org/gnome/Mutter/IdleMonitor/Core "
                            "org.gnome.Mutter.IdleMonitor.ResetIdletime >/dev/null 2>&1";
  neverDimsWhileInputGoesOnAndComesBackOnInput(app, [&] { run(reset); });
  expectSaid({"Idle time from GNOME's org.gnome.Mutter.IdleMonitor",
              "The compositor has no layer shell: the heads-up panel is a desktop notification",
              "Gamma through GNOME's org.gnome.Mutter.DisplayConfig"});
  EXPECT_TRUE(saidOnce("GNOME's compositor gives Meta-0 no CRTC")) << "said why, once, through the whole dim and back";
}

// A start as launchers, `ssh -X` and user units make them inside a Wayland session: XWayland's DISPLAY only.
// With no compositor socket to ask it refuses to dim; with the compositor's socket in the runtime folder,
// where a session keeps it, it works through the compositor and never dims a typing user.
TEST_F(WaylandApp, StartedWithOnlyXWaylandsDisplayItFindsTheCompositorsSocketOrRefusesToDimAndSaysWhy) {
  REQUIRE_SWAY();
  const char* xwayland = std::getenv("DIMMORA_SWAY_XWAYLAND");
  ASSERT_TRUE(xwayland) << "scripts/test.d/sway.sh starts sway with XWayland";
  sway = std::getenv("DIMMORA_SWAY_DISPLAY");
  const std::vector<std::string> environment{std::string("DISPLAY=") + xwayland, "WAYLAND_DISPLAY=",
                                             "XDG_SESSION_TYPE=", "DIMMORA_TRACE=1"};
  {
    App app(tree, environment);
    ASSERT_TRUE(waitFor([&] { return !levels().empty(); }, 5s)) << log();
    // Typing in Wayland programs, then nothing: XWayland's counter would have dimmed in both.
    for (int i = 0; i < 4; ++i) {
      type("x");
      std::this_thread::sleep_for(500ms);
    }
    std::this_thread::sleep_for(3500ms);
    for (int level : levels()) EXPECT_EQ(level, 100);
    expectSaid({"that display is XWayland's and no compositor socket answers",
                "XWayland sees only the input of X11 programs, so automatic dimming stays off",
                "The desktop reports no idle time"});
    EXPECT_EQ(app.stop(SIGTERM), 0);
  }
  std::filesystem::remove(tree.path("app.log"));
  std::filesystem::create_symlink(sway, tree.path("run") / "wayland-1");
  App app(tree, environment);
  neverDimsWhileInputGoesOnAndComesBackOnInput(app, [&] { type("x"); });
  expectSaid({"that display is XWayland's, so Dimmora works through the compositor at",
              "Idle time from the compositor through"});
}

// XDG_SESSION_TYPE=wayland without WAYLAND_DISPLAY: the sockets that are there, a stale one skipped.
TEST_F(WaylandApp, WithoutWaylandDisplayTheSocketsInTheRuntimeFolderAreTriedAndNoneIsWordedAsSuch) {
  {
    App app(tree, {"DISPLAY=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=wayland", "QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(app.waitExit(10s), 1);
  }
  EXPECT_NE(log().find("XDG_SESSION_TYPE is wayland, but WAYLAND_DISPLAY is not set and " + tree.path("run").string() +
                       " holds no compositor socket (wayland-*)"),
            std::string::npos);
  EXPECT_EQ(log().find("WAYLAND_DISPLAY names another one"), std::string::npos);

  TestCompositor compositor(tree);  // listens on run/wayland-test
  ASSERT_EQ(compositor.expect("ready"), "ready");
  // A socket left behind by a compositor that is gone comes first and answers nothing.
  makeSocketFile(tree.path("run") / "wayland-0");
  App app(tree, {"DISPLAY=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=wayland", "QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(compositor.expect("idle notification", nullptr, 5s), "idle notification 1000");
  EXPECT_NE(log().find("(" + compositor.socket() + ")"), std::string::npos);
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

// The program on our own compositor, whose gamma control works, in full gamma mode on its output DP-7.
class WaylandAppOnOwnCompositor : public ProgramTest {
 protected:
  TestCompositor compositor{tree};
  const DisplayID output = WaylandOutputs::displayIDForName("DP-7");

  void SetUp() override { ASSERT_EQ(compositor.expect("ready"), "ready"); }
  // Our compositor draws nothing, so Qt stays off screen; the binding still works through the compositor.
  std::unique_ptr<App> start(const nlohmann::json& extra = nlohmann::json::object(),
                             std::vector<std::string> environment = {}) {
    nlohmann::json settings = {{"selectedDisplayIDs", {output}}, {"displayFullGammaModes", {output, true}}};
    settings.update(extra);
    writeConfig(tree, settings);
    for (const auto& variable : {"DISPLAY=", "QT_QPA_PLATFORM=offscreen"}) environment.emplace_back(variable);
    environment.push_back("WAYLAND_DISPLAY=" + compositor.socket());
    return std::make_unique<App>(tree, environment);
  }
};

// A video player's idle inhibitor on a compositor with input-only idle time: the user's "pause while media is
// playing" holds the dimming while it lasts, and dimming comes once it lets go.
TEST_F(WaylandAppOnOwnCompositor, AnIdleInhibitorCountsAsMediaPlaybackAndOnceItGoesTheGammaControlDims) {
  // The step after 12 idle seconds: past the inhibitor's discovery (a second) and the next poll of it (5 s).
  const auto app = start({{"pauseDuringMediaPlayback", true},
                          {"steps",
                           {{{"id", "EAD05D0D-830B-495E-B47F-F02CA8CF7D4A"}, {"idleSeconds", 0}, {"brightnessPercent", 100}},
                            {{"id", "718A23E6-BF5A-4B99-AEBB-204C8AD781E7"}, {"idleSeconds", 12}, {"brightnessPercent", 40}}}}});
  ASSERT_EQ(compositor.expect("idle notification", nullptr, 5s), "idle notification 1000");
  InhibitingClient player(compositor.socket());
  ASSERT_TRUE(player.holds());
  ASSERT_EQ(compositor.expect("inhibitor held"), "inhibitor held");

  compositor.send("idle");
  EXPECT_EQ(compositor.expect("gamma 2", nullptr, 16s), "") << "dimmed under a playing video";
  expectSaid({"Inhibitors held: idle=1", "input only; idle inhibitors count as media playback"});

  // The video ends: the next poll clears the flag, and the idle time, which went on all along, dims at once,
  // to 40 % of the range above the 5 % safety floor through gamma alone; input brings it back.
  player.release();
  ASSERT_FALSE(compositor.expect("gamma 28", nullptr, 9s).empty());
  compositor.expect("gamma 28", nullptr, 300ms);  // the fade's last frame, if it is still on its way
  const auto sent = Clock::now();
  compositor.send("resume");
  ASSERT_EQ(compositor.expect("gamma released", nullptr, 2s), "gamma released");
  EXPECT_LT(Clock::now() - sent, 100ms);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

// Another program holds the output's gamma: the display's one status says so, at rest and while dimmed.
TEST_F(WaylandAppOnOwnCompositor, ARefusedGammaControlIsTheDisplaysOneStatusAtRestAndDimmed) {
  GammaHolder nightLight(compositor.socket(), output);
  ASSERT_EQ(compositor.expect("gamma 3", nightLight.session.get()), "gamma 32768 32768 32768");

  PrivateSessionBus bus;
  BusClient client(bus.address());
  const auto app = start(nlohmann::json::object(), {"DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
  ASSERT_TRUE(waitFor([&] { return client.hasOwner(kDimmoraBusName); }, 10s));
  EXPECT_TRUE(waitFor([&] { return client.displayStatus(output) == "control_gamma_refused"; }, 5s))
      << client.displayStatus(output);
  compositor.send("idle");
  ASSERT_FALSE(compositor.expect("did idle", nightLight.session.get()).empty());
  std::this_thread::sleep_for(4s);  // past the step and its fade
  EXPECT_EQ(client.displayStatus(output), "control_gamma_refused");
  compositor.send("resume");
  ASSERT_FALSE(compositor.expect("did resume", nightLight.session.get()).empty());
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(client.displayStatus(output), "control_gamma_refused");
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

// KWin offers no client a way to inject keys here (its fake-input protocol is kept for programs its
// service database names), so under it only the way down is watched: idle time, the step, the panel's layer.
TEST_F(WaylandApp, UnderKWinIdleTimeComesFromExtIdleNotifyAndTheStepDims) {
  REQUIRE_FACILITY("DIMMORA_KWIN_DISPLAY", "headless KWin");
  REQUIRE_FACILITY("DIMMORA_KWIN_BUS", "headless KWin");
  const std::string display = std::getenv("DIMMORA_KWIN_DISPLAY"), bus = std::getenv("DIMMORA_KWIN_BUS");
  App app(tree, {"DISPLAY=", "WAYLAND_DISPLAY=" + display, "DBUS_SESSION_BUS_ADDRESS=" + bus,
                 "DIMMORA_TRACE=1"});
  ASSERT_TRUE(waitFor([&] { return !levels().empty(); }, 10s)) << log();
  EXPECT_TRUE(waitFor([&] { return levels().back() == 40; }, 8s));
  expectSaid({"Idle time from the compositor through ext-idle-notify-v1",
              "The heads-up panel floats on the compositor's overlay layer"});
  EXPECT_EQ(log().find("No such signal"), std::string::npos);
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

namespace {
// The sway tree's nodes, depth first.
void forEachNode(const nlohmann::json& node, const std::function<void(const nlohmann::json&)>& visit) {
  visit(node);
  for (const char* children : {"nodes", "floating_nodes"})
    if (node.contains(children))
      for (const auto& child : node[children]) forEachNode(child, visit);
}

// The program under sway with its own session bus, for the calls a desktop key binding would make.
class WaylandAppOnBus : public WaylandApp {
 protected:
  PrivateSessionBus bus;
  BusClient client{bus.address()};

  void SetUp() override {
    WaylandApp::SetUp();
    // Sway runs no tray here: a first start would open the window by itself; these tests open it themselves.
    tree.write("config/Dimmora/Dimmora.ini", "[General]\nshell.noTrayWindowShown=true\n");
  }

  std::unique_ptr<App> start() {
    sway = std::getenv("DIMMORA_SWAY_DISPLAY");
    auto app = std::make_unique<App>(tree, std::vector<std::string>{"DISPLAY=", "WAYLAND_DISPLAY=" + sway,
                                                                    "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    EXPECT_TRUE(waitFor([&] { return client.hasOwner(kDimmoraBusName); }, 10s));
    return app;
  }
  bool call(const std::string& method) { return client.callDimmora(method).ok; }
  QImage screenshot() const {
    const auto file = tree.path("screen.png");
    std::filesystem::remove(file);
    run("WAYLAND_DISPLAY='" + sway + "' grim '" + file.string() + "' 2>&1");
    return QImage(QString::fromStdString(file.string()));
  }
  static nlohmann::json outputs() { return nlohmann::json::parse(run("swaymsg -r -t get_outputs")); }
  // How many windows the process has on sway; the last one found goes to `window`.
  static int windowsOf(pid_t pid, nlohmann::json* window = nullptr) {
    int found = 0;
    forEachNode(nlohmann::json::parse(run("swaymsg -r -t get_tree")), [&](const nlohmann::json& node) {
      if (node.value("pid", 0) == pid && node.contains("app_id")) {
        if (window) *window = node;
        ++found;
      }
    });
    return found;
  }
};

bool isBlue(QRgb pixel) { return qBlue(pixel) > qRed(pixel) + 60; }
}  // namespace

TEST_F(WaylandAppOnBus, ABrightnessShortcutShowsThePanelOnTheOverlayLayerAndItGoesAgain) {
  REQUIRE_SWAY();
  auto app = start();
  // Where the middle of the panel's bar would be, 28 px below the top of each output, centred.
  std::vector<QPoint> bars;
  for (const auto& output : outputs()) {
    const auto& o = output["rect"];
    bars.emplace_back(o["x"].get<int>() + o["width"].get<int>() / 2 - 120 + 16 + 50, o["y"].get<int>() + 28 + 70);
  }
  auto shown = [&](const QImage& screen) {
    return std::count_if(bars.begin(), bars.end(), [&](const QPoint& p) { return isBlue(screen.pixel(p)); });
  };
  ASSERT_FALSE(screenshot().isNull());
  EXPECT_EQ(shown(screenshot()), 0);

  const auto pressed = Clock::now();
  ASSERT_TRUE(call("DecreaseMaster"));
  QImage screen;
  // A loaded machine may take a while over the panel's first layer surface.
  while (Clock::now() - pressed < 5s && shown(screen = screenshot()) == 0) {
  }
  EXPECT_EQ(shown(screen), 1) << "on one output";
  EXPECT_NE(log().find("The heads-up panel floats on the compositor's overlay layer"), std::string::npos);

  EXPECT_TRUE(waitFor([&] { return shown(screenshot()) == 0; }, 3s)) << "hidden after the delay";
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

// No tray (sway without a bar, GNOME without the AppIndicator extension): the window is the way in, opened by
// the first start by itself as a frameless top level that fits the output; the applications' entry always opens it.
TEST_F(WaylandAppOnBus, WithoutATrayTheFirstStartOpensTheWindowOnceAndTheApplicationsEntryAlwaysDoes) {
  REQUIRE_SWAY();
  // Every section open: the body is taller than the 720-pixel output, so the height rules must hold it.
  tree.write("config/Dimmora/Dimmora.ini", "[General]\nmenu.stepsExpanded=true\nmenu.advancedExpanded=true\n");
  {
    auto app = start();
    nlohmann::json window;
    auto find = [&] { return windowsOf(app->pid(), &window); };
    ASSERT_TRUE(waitFor([&] { return find() == 1; }, 5s)) << run("swaymsg -t get_tree") << log();
    expectSaid({"No system tray is available (no StatusNotifier host"});
    EXPECT_EQ(log().find("systemTrayWindowChanged"), std::string::npos);
    EXPECT_EQ(window["app_id"], "dimmora");
    EXPECT_EQ(window["name"], "Dimmora");
    EXPECT_EQ(window["shell"], "xdg_shell");
    // No server-side title bar or border pushes it off the screen.
    EXPECT_EQ(window["deco_rect"]["height"], 0);
    EXPECT_EQ(window["window_rect"]["height"], window["rect"]["height"]);
    const auto& rect = window["rect"];
    EXPECT_EQ(rect["width"], 310);
    const int x = rect["x"], y = rect["y"], width = rect["width"], height = rect["height"];
    bool inside = false;
    for (const auto& output : outputs()) {
      const int ox = output["rect"]["x"], oy = output["rect"]["y"];
      const int ow = output["rect"]["width"], oh = output["rect"]["height"];
      if (x < ox || y < oy || x + width > ox + ow || y + height > oy + oh) continue;
      inside = true;
      // The scrolling body takes the room there is, less the margin the rules keep below it.
      EXPECT_GT(height, oh - 60);
      EXPECT_LE(height, oh - 24 + 2);
    }
    EXPECT_TRUE(inside) << rect.dump();

    // Drawn: the window's area is not one flat colour.
    QImage screen;
    std::set<QRgb> colours;
    for (int attempt = 0; attempt < 20 && colours.size() < 20; ++attempt) {
      std::this_thread::sleep_for(100ms);
      screen = screenshot();
      colours.clear();
      for (int row = y; !screen.isNull() && row < y + 120; ++row)
        for (int column = x; column < x + width; ++column) colours.insert(screen.pixel(column, row));
    }
    EXPECT_GE(colours.size(), 20u);

    // Asked again, it stays the one window.
    ASSERT_TRUE(call("ShowWindow"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(find(), 1);
    EXPECT_TRUE(window["focused"]) << "it takes the keyboard, as a window opened on purpose should";
    // Without a title bar, Escape is how the keyboard closes it.
    run("WAYLAND_DISPLAY='" + sway + "' wtype -k Escape 2>&1");
    EXPECT_TRUE(waitFor([&] { return find() == 0; }, 3s)) << "Escape did not close the window";
    EXPECT_EQ(app->stop(SIGTERM), 0);
  }
  EXPECT_NE(readTextFile(tree.path("config/Dimmora/Dimmora.ini")).value_or("").find("noTrayWindowShown=true"),
            std::string::npos);
  {
    // Started again at login: only once was asked for.
    auto app = start();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(windowsOf(app->pid()), 0);
    // From the applications: the desktop entry's command opens it on a running instance...
    App entry(tree, {"DISPLAY=", "WAYLAND_DISPLAY=" + sway, "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    EXPECT_EQ(entry.waitExit(10s), 0);
    EXPECT_TRUE(waitFor([&] { return windowsOf(app->pid()) == 1; }, 5s));
    EXPECT_EQ(app->stop(SIGTERM), 0);
  }
  // ...and starts one with its window shown.
  const std::string desktopEntry = readTextFile(DIMMORA_SOURCE_DIR "/resources/io.github.dimmora.Dimmora.desktop")
                                       .value_or("");
  ASSERT_NE(desktopEntry.find("Exec=dimmora --show-window\n"), std::string::npos);
  App shown(tree, {"DISPLAY=", "WAYLAND_DISPLAY=" + sway, "DBUS_SESSION_BUS_ADDRESS=" + bus.address()},
            ProgramCopy{}, {"--show-window"});
  EXPECT_TRUE(waitFor([&] { return windowsOf(shown.pid()) == 1; }, 10s)) << log();
  EXPECT_EQ(shown.stop(SIGTERM), 0);
}
