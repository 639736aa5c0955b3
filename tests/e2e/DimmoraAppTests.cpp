// SPDX-License-Identifier: GPL-3.0-or-later
// The real executable under the private X server (scripts/test.d starts it
// with a tray host), driven with xdotool and observed with xrandr and its
// configuration file.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <vector>

#include "AppTestSupport.hpp"

// Without a session bus: libdbus would start one through dbus-launch from
// PATH, and this one only says it was asked.
TEST_F(DimmoraApp, FadesAfterTheIdleStepAndAKeyPressBringsItBackWithNoBusDaemonLeftBehind) {
  tree.write("bin/dbus-launch", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/asked\"\nexit 1\n");
  std::filesystem::permissions(tree.path("bin/dbus-launch"), std::filesystem::perms::owner_all);
  run("xdotool key shift");
  App app(tree, {"DBUS_SESSION_BUS_ADDRESS=", "PATH=" + tree.path("bin").string() + ":" + std::getenv("PATH")});
  ASSERT_GT(app.pid(), 0);
  std::vector<double> seen;
  ASSERT_TRUE(waitFor([&] {
    if (auto b = xrandrBrightness(); b && (seen.empty() || seen.back() != *b)) seen.push_back(*b);
    return !seen.empty() && seen.back() < 0.6;
  }, 20s));  // 3 s of idle step and fade, plus a start that a loaded machine slows
  // It passed through levels between full and the step: a fade, not a jump.
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](double b) { return b < 0.99 && b > 0.6; }));
  EXPECT_TRUE(std::is_sorted(seen.rbegin(), seen.rend()));
  EXPECT_GT(seen.back(), 0.3);  // 40 % of the range above the 5 % safety floor

  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return atFull(); }, 1500ms));
  EXPECT_EQ(app.stop(SIGTERM), 0);
  // Dimmed: the tray, the window and every other part had started.
  EXPECT_FALSE(std::filesystem::exists(tree.path("bin/asked"))) << readTextFile(tree.path("bin/asked")).value_or("");
}

// Last, a slow fade with frames still due when the program is held mid-way: as a loaded
// machine holds it, it wakes to the signal and a late frame in the same turn of its loop.
TEST_F(DimmoraApp, TerminationWhileDimmedRestoresTheScreenAndLeavesValidSettings) {
  const std::pair<int, bool> runs[] = {{SIGTERM, false}, {SIGQUIT, false}, {SIGTERM, true}};
  for (const auto& [signal, held] : runs) {
    SCOPED_TRACE(std::string(strsignal(signal)) + (held ? " while held" : ""));
    if (held) reconfigure([](nlohmann::json& config) { config["fadeDurationSeconds"] = 6; });
    run("xdotool key shift");
    App app(tree);
    ASSERT_TRUE(waitFor([&] { return held ? xrandrBrightness().value_or(1) < 0.95 : dimmed(); }, 20s));
    if (held) {
      kill(app.pid(), SIGSTOP);
      std::this_thread::sleep_for(300ms);
      kill(app.pid(), SIGTERM);
      kill(app.pid(), SIGCONT);
    }
    EXPECT_EQ(held ? app.waitExit(10s) : app.stop(signal), 0);
    EXPECT_TRUE(atFull());
    EXPECT_TRUE(std::filesystem::is_empty(tree.path("run/Dimmora")));
    const auto config = nlohmann::json::parse(readTextFile(tree.path("config/Dimmora/config.json")).value_or(""),
                                              nullptr, false);
    ASSERT_TRUE(config.is_object());
    EXPECT_EQ(config["fadeDurationSeconds"], held ? 6 : 1);
    EXPECT_EQ(config["steps"].size(), 2u);
  }
}

TEST_F(DimmoraApp, AKilledRunIsUndoneByTheNextStart) {
  run("xdotool key shift");
  {
    App first(tree);
    ASSERT_TRUE(waitFor([&] { return dimmed(); }, 8s));
    EXPECT_EQ(first.stop(SIGKILL), 128 + SIGKILL);
  }
  EXPECT_TRUE(dimmed());  // nothing could restore it
  run("xdotool key shift");
  App second(tree);
  EXPECT_TRUE(waitFor([&] { return atFull(); }, 1500ms));
  EXPECT_EQ(second.stop(SIGINT), 0);
  EXPECT_TRUE(atFull());
}

TEST_F(DimmoraApp, ARecoveryFolderAnotherUserCouldWriteIsNotTrusted) {
  // Without a runtime folder the recovery files live in the temporary folder,
  // where anyone could have prepared ours, with black ramps for this screen.
  auto session = X11Session::open();
  ASSERT_TRUE(session);
  RandrScreen randr(*session);
  const auto output = randr.output(outputID);
  ASSERT_TRUE(output);
  const std::vector<int> black(static_cast<std::size_t>(randr.gammaSize(outputID)), 0);
  const auto prepared = tree.folder("tmp/dimmora-" + std::to_string(getuid()) + "/Dimmora");
  std::filesystem::permissions(prepared.parent_path(), std::filesystem::perms::all);
  tree.write("tmp/dimmora-" + std::to_string(getuid()) + "/Dimmora/gamma-1.json",
             nlohmann::json{{"pid", 1}, {"started", "0"}, {"display", session->name()},
                            {"outputs", {{output->name, {{"red", black}, {"green", black}, {"blue", black}}}}}}
                 .dump());
  run("xdotool key shift");
  App app(tree, {"XDG_RUNTIME_DIR=", "TMPDIR=" + tree.path("tmp").string()});
  ASSERT_TRUE(waitFor([&] { return log().find("Engine started") != std::string::npos; }, 5s)) << log();
  EXPECT_TRUE(atFull());
  EXPECT_NE(log().find("Gamma crash recovery is off: " + prepared.parent_path().string() +
                       " can be written by other users"),
            std::string::npos)
      << log();
  // Dimming itself still works, only without crash recovery.
  EXPECT_TRUE(waitFor([&] { return dimmed(); }, 8s));
  EXPECT_EQ(app.stop(SIGTERM), 0);
  EXPECT_TRUE(atFull());
}

TEST_F(DimmoraApp, WithoutAReachableDisplayItExplainsAndExits) {
  // No DISPLAY, then one that names no running server: both are explained in
  // Dimmora's words before Qt would abort with its own advice.
  int number = 400;
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
  const std::string dead = ":" + std::to_string(number);
  EXPECT_EQ(App(tree, {"DISPLAY="}).waitExit(5s), 1);
  EXPECT_EQ(App(tree, {"DISPLAY=" + dead}).waitExit(5s), 1);
  EXPECT_NE(log().find("dimmora: no X11 display"), std::string::npos) << log();
  EXPECT_NE(log().find("dimmora: cannot reach the X server of display " + dead), std::string::npos) << log();
  EXPECT_EQ(log().find("Qt"), std::string::npos) << log();
}
