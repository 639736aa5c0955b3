// SPDX-License-Identifier: GPL-3.0-or-later
// The real executable where its surroundings work against it: a runtime
// folder it cannot lock in, ramps another program dimmed, an X server that
// closes one of its connections or ends, a window manager (GNOME's Mutter)
// that rebuilds the gamma tables itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "../linux/SessionBusTestSupport.hpp"
#include "../linux/ThrowawayServer.hpp"
#include "AppTestSupport.hpp"

// Xlib's macros clash with GoogleTest's names; it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

namespace {
// What a sanitizer or a crash leaves in the log.
bool reportsAMemoryFault(const std::string& log) {
  return log.find("AddressSanitizer") != std::string::npos || log.find("runtime error:") != std::string::npos ||
         log.find("LeakSanitizer") != std::string::npos;
}

// The X connections of a process that own no window: the program's own Xlib
// connection, beside Qt's, which owns the tray icon's windows.
std::vector<XID> windowlessClientsOf(pid_t pid) {
  std::vector<XID> clients;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return clients;
  XResClientIdSpec all{0, XRES_CLIENT_ID_PID_MASK};
  long count = 0;
  XResClientIdValue* ids = nullptr;
  if (XResQueryClientIds(display, 1, &all, &count, &ids) == Success) {
    const Atom window = XInternAtom(display, "WINDOW", False);
    for (long i = 0; i < count; ++i) {
      if (XResGetClientPid(&ids[i]) != pid) continue;
      const XID client = ids[i].spec.client;
      int types = 0;
      XResType* resources = nullptr;
      if (!XResQueryClientResources(display, client, &types, &resources)) continue;
      int windows = 0;
      for (int t = 0; t < types; ++t)
        if (resources[t].resource_type == window) windows += static_cast<int>(resources[t].count);
      XFree(resources);
      if (windows == 0) clients.push_back(client);
    }
    XResClientIdsDestroy(count, ids);
  }
  XCloseDisplay(display);
  return clients;
}
}  // namespace

class HostileSurroundings : public DimmoraApp {
 protected:
  // An Xorg of the test's own, to be ended or managed by a window manager of
  // its own; the program's settings select its first output in full gamma mode.
  std::unique_ptr<ThrowawayServer> startOwnXorg() {
    const char* configuration = std::getenv("DIMMORA_XORG_CONF");
    EXPECT_TRUE(configuration) << "scripts/test.d/xserver.sh exports the Xorg configuration";
    if (!configuration) return nullptr;
    auto server = std::make_unique<ThrowawayServer>(std::vector<std::string>{
        "Xorg", "-config", configuration, "-configdir", tree.folder("xorg.d").string(), "-logfile",
        tree.path("xorg.log").string(), "-noreset", "-nolisten", "tcp"});
    EXPECT_TRUE(server->session()) << "Xorg did not start";
    if (!server->session()) return nullptr;
    RandrScreen randr(*server->session());
    std::uint32_t output = 0;
    for (const auto& o : randr.outputs())
      if (o.isOnline() && !output) output = o.id;
    EXPECT_NE(output, 0u);
    reconfigure([&](nlohmann::json& config) {
      config["selectedDisplayIDs"] = {output};
      config["displayFullGammaModes"] = {output, true};
    });
    return server;
  }
  // xrandr's reading of the ramps on `server`: "Gamma: r:g:b" and "Brightness: b".
  static std::string xrandr(const ThrowawayServer& server, const char* field) {
    const auto text = server.run("xrandr --verbose");
    const auto at = text.find(field);
    if (at == std::string::npos) return "none";
    const auto from = at + std::strlen(field);
    return text.substr(from, text.find('\n', from) - from);
  }
};

TEST_F(HostileSurroundings, WithoutAUsableInstanceLockASecondCopyStillHandsOverAndTheScreenComesBack) {
  // The runtime folder's lock is a folder; the runtime folder itself a file: neither can be locked.
  tree.folder("run/dimmora.lock");
  tree.write("not-a-folder", "");
  for (const auto& runtime : {tree.path("run"), tree.path("not-a-folder/run")}) {
    SCOPED_TRACE(runtime.string());
    const std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + runtime.string(),
                                                  "TMPDIR=" + tree.folder("tmp").string()};
    run("xdotool key shift");
    App first(tree, environment);
    ASSERT_TRUE(waitFor([&] { return dimmed(); }, 20s)) << log();
    App second(tree, environment);
    EXPECT_EQ(second.waitExit(10s), 0) << "a second copy ran on";
    EXPECT_NE(log().find("Dimmora is already running"), std::string::npos);
    EXPECT_NE(log().find("Cannot use the instance lock (cannot open " + (runtime / "dimmora.lock").string()),
              std::string::npos)
        << log();
    EXPECT_NE(log().find("locked in " + tree.path("tmp/dimmora-" + std::to_string(getuid())).string() + " instead"),
              std::string::npos);
    EXPECT_EQ(first.stop(SIGTERM), 0);
    EXPECT_TRUE(atFull());
  }
}

TEST_F(HostileSurroundings, RampsAnotherProgramDimmedAreNeverTakenForTheOriginals) {
  // Another copy, or another dimmer, left the screen at 4 %.
  run("xrandr --output $(xrandr | awk '/ connected/{print $1; exit}') --brightness 0.04");
  ASSERT_LT(xrandrBrightness().value_or(1), 0.05);
  run("xdotool key shift");
  App app(tree);
  ASSERT_TRUE(waitFor([&] { return xrandrBrightness().value_or(0) > 0.3 && xrandrBrightness().value_or(1) < 0.6; },
                      20s))
      << log();
  EXPECT_NE(log().find("are dimmed below half brightness, so they are not its own: the linear ramp is kept as its "
                       "original"),
            std::string::npos)
      << log();
  EXPECT_EQ(app.stop(SIGTERM), 0);
  EXPECT_TRUE(atFull());
}

// The server closes one of the program's connections, as it does for a client it kills: Qt's, which owns
// the tray icon's windows, or the program's own Xlib connection. Either way the screen comes back and it quits.
struct LostConnection {
  const char* name;
  bool qts;
  const char* said;  // the program's own account of it, once; none when Qt ends the process
};

inline void PrintTo(const LostConnection& lost, std::ostream* out) { *out << lost.name; }

class LosingAConnection : public DimmoraApp, public ::testing::WithParamInterface<LostConnection> {};

TEST_P(LosingAConnection, PutsTheScreenBackAndQuitsInsteadOfSpinning) {
  run("xdotool key shift");
  App app(tree);
  ASSERT_TRUE(waitFor([&] { return dimmed(); }, 20s)) << log();
  XID client = 0;
  if (GetParam().qts) {
    const auto windows = run("xdotool search --pid " + std::to_string(app.pid()));
    ASSERT_FALSE(windows.empty());
    client = std::stoul(windows.substr(0, windows.find('\n')));
  } else {
    const auto ours = windowlessClientsOf(app.pid());
    ASSERT_EQ(ours.size(), 1u) << "the program's own connection, beside Qt's";
    client = ours[0];
  }
  Display* display = XOpenDisplay(nullptr);
  ASSERT_TRUE(display);
  XKillClient(display, client);
  XSync(display, False);
  XCloseDisplay(display);

  EXPECT_EQ(app.waitExit(5s), 1) << "it ran on without its connection";
  EXPECT_TRUE(atFull());
  EXPECT_TRUE(std::filesystem::is_empty(tree.path("run/Dimmora")));
  if (GetParam().said) {
    EXPECT_TRUE(saidOnce(GetParam().said)) << log();
  }
}

INSTANTIATE_TEST_SUITE_P(
    ToTheServer, LosingAConnection,
    ::testing::Values(LostConnection{"Qts", true, nullptr},
                      LostConnection{"ItsOwn", false,
                                     "Display control stopped: the X server closed Dimmora's connection; the gamma is "
                                     "put back and Dimmora quits"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileSurroundings, TheServerEndingWhileTheScreenIsDimmedEndsTheProgramWithoutAFault) {
  // Ended as a logout or a server restart ends it, while the gamma is dimmed.
  const auto server = startOwnXorg();
  ASSERT_TRUE(server);
  server->run("xdotool key shift");
  App app(tree, {"DISPLAY=" + server->name()});
  ASSERT_TRUE(waitFor([&] { return xrandr(*server, "Brightness: ") < "0.6"; }, 20s)) << log();
  server->stop();
  const auto status = app.waitExit(10s);
  ASSERT_TRUE(status) << "it did not end with its server";
  EXPECT_EQ(*status, 1) << log();  // Qt's exit, not a signal
  EXPECT_FALSE(reportsAMemoryFault(log())) << log();
}

// Mutter manages the screen: the tables go through it, and one it rebuilds (here after another program's table and
// a monitor change) is dimmed again over its new tint, which the quit puts back.
TEST_F(HostileSurroundings, UnderMutterATableItRebuildsIsDimmedAgainAndTheQuitPutsItsTintBack) {
  const auto server = startOwnXorg();
  ASSERT_TRUE(server);
  PrivateSessionBus bus;
  ChildProcess mutter({"mutter", "--x11", "--replace"},
                      {"DISPLAY=" + server->name(), "DBUS_SESSION_BUS_ADDRESS=" + bus.address()}, tree.path("mutter.log"));
  const std::string call = "gdbus call --address '" + bus.address() +
                           "' -d org.gnome.Mutter.DisplayConfig -o /org/gnome/Mutter/DisplayConfig -m "
                           "org.gnome.Mutter.DisplayConfig.";
  ASSERT_TRUE(waitFor([&] { return run(call + "GetResources 2>/dev/null").find("DUMMY0") != std::string::npos; }, 20s))
      << "Mutter did not start: " << readTextFile(tree.path("mutter.log")).value_or("");
  server->run("xdotool key shift");
  App app(tree, {"DISPLAY=" + server->name(), "DBUS_SESSION_BUS_ADDRESS=" + bus.address(), "DIMMORA_TRACE=1"});
  ASSERT_TRUE(waitFor([&] { return xrandr(*server, "Brightness: ") < "0.6"; }, 20s)) << xrandr(*server, "Brightness: ");
  // The fade's end: the reading holds still (a loaded machine draws the fade late).
  std::string dimmed;
  ASSERT_TRUE(waitFor([&] {
    const std::string before = xrandr(*server, "Brightness: ");
    std::this_thread::sleep_for(400ms);
    dimmed = xrandr(*server, "Brightness: ");
    return dimmed == before;
  }, 10s));
  EXPECT_NE(log().find("Gamma through GNOME's org.gnome.Mutter.DisplayConfig"), std::string::npos);

  // A night light's warm table (blue at 60 %), then a monitor change Mutter announces.
  std::string blue;
  for (int i = 0; i < 256; ++i) blue += (i ? "," : "") + std::to_string(i * 256 * 6 / 10);
  std::string identity;
  for (int i = 0; i < 256; ++i) identity += (i ? "," : "") + std::to_string(i * 256);
  const auto serial = [&] { return std::stoul(run(call + "GetResources | sed 's/^(uint32 \\([0-9]*\\).*/\\1/'")); };
  run("dbus-send --bus='" + bus.address() + "' --print-reply --dest=org.gnome.Mutter.DisplayConfig "
      "/org/gnome/Mutter/DisplayConfig org.gnome.Mutter.DisplayConfig.SetCrtcGamma uint32:" + std::to_string(serial()) +
      " uint32:0 array:uint16:" + identity + " array:uint16:" + identity + " array:uint16:" + blue + " >/dev/null");
  const std::string tint = xrandr(*server, "Gamma: ");
  server->run("xrandr --output DUMMY0 --mode 1024x576");
  const auto shown = [&] { return xrandr(*server, "Brightness: ") == dimmed && xrandr(*server, "Gamma: ") == tint; };
  ASSERT_TRUE(waitFor(shown, 10s))
      << xrandr(*server, "Brightness: ") << " " << xrandr(*server, "Gamma: ") << " for " << dimmed << " " << tint;

  EXPECT_EQ(app.stop(SIGTERM), 0);
  EXPECT_EQ(xrandr(*server, "Brightness: "), "1.0");
  EXPECT_EQ(xrandr(*server, "Gamma: "), tint) << "the night light's tint, undimmed";
}
