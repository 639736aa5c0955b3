// The real executable under the private X server (scripts/test.d starts it
// with a tray host), driven with xdotool and observed with xrandr and its
// configuration file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AppProcess.hpp"
#include "platform/linux/DrmConnectors.hpp"
#include "platform/linux/RandrScreen.hpp"
#include "platform/linux/X11Session.hpp"

namespace {
using namespace std::chrono_literals;
using e2e::App;
using e2e::waitFor;

std::optional<double> xrandrBrightness() {
  const auto text = run("xrandr --verbose");
  const auto at = text.find("Brightness: ");
  if (at == std::string::npos) return std::nullopt;
  return std::stod(text.substr(at + 12));
}

class DimmoraApp : public ::testing::Test {
 protected:
  TempTree tree;
  std::uint32_t outputID = 0;

  void SetUp() override {
    REQUIRE_X_SERVER();
    auto session = X11Session::open();
    ASSERT_TRUE(session);
    RandrScreen randr(*session);
    for (const auto& o : randr.outputs())
      if (o.isOnline() && !outputID) outputID = o.id;
    ASSERT_NE(outputID, 0u);
    ASSERT_EQ(xrandrBrightness(), 1.0) << "the output must start at full brightness";
    // Short steps: 40 % after 2 idle seconds, a one-second fade, the output in full gamma mode.
    const nlohmann::json config = {
        {"steps", {{{"id", "EAD05D0D-830B-495E-B47F-F02CA8CF7D4A"}, {"idleSeconds", 0}, {"brightnessPercent", 100}},
                   {{"id", "718A23E6-BF5A-4B99-AEBB-204C8AD781E7"}, {"idleSeconds", 2}, {"brightnessPercent", 40}}}},
        {"fadeDurationSeconds", 1},
        {"frameRate", 24},
        {"fadeCurve", "linear"},
        {"selectedDisplayIDs", {outputID}},
        {"displayFullGammaModes", {outputID, true}}};
    tree.write("config/Dimmora/config.json", config.dump(2));
    std::filesystem::create_directories(tree.path("run"));
    std::filesystem::permissions(tree.path("run"), std::filesystem::perms::owner_all);
  }
  void TearDown() override {
    if (::testing::Test::HasFailure())
      std::fprintf(stderr, "app log:\n%s\n", readTextFile(tree.path("app.log")).value_or("").c_str());
    // Leave the shared server as it was found.
    if (std::getenv("DISPLAY")) run("xrandr --output $(xrandr | awk '/ connected/{print $1; exit}') --gamma 1:1:1");
  }
  bool dimmed() {
    const auto b = xrandrBrightness();
    return b && *b < 0.6;
  }
  bool atFull() { return xrandrBrightness() == 1.0; }
};
}  // namespace

TEST_F(DimmoraApp, FadesAfterTheIdleStepAndAKeyPressBringsItBack) {
  run("xdotool key shift");
  App app(tree);
  ASSERT_GT(app.pid(), 0);
  std::vector<double> seen;
  ASSERT_TRUE(waitFor([&] {
    if (auto b = xrandrBrightness(); b && (seen.empty() || seen.back() != *b)) seen.push_back(*b);
    return !seen.empty() && seen.back() < 0.6;
  }, 8s));
  // It passed through levels between full and the step: a fade, not a jump.
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](double b) { return b < 0.99 && b > 0.6; }));
  EXPECT_TRUE(std::is_sorted(seen.rbegin(), seen.rend()));
  const double floor = seen.back();
  EXPECT_GT(floor, 0.3);  // 40 % of the range above the 5 % safety floor

  run("xdotool key a");
  EXPECT_TRUE(waitFor([&] { return atFull(); }, 1500ms));
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

TEST_F(DimmoraApp, TerminationWhileDimmedRestoresTheScreenAndLeavesValidSettings) {
  for (const int signal : {SIGTERM, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal));
    run("xdotool key shift");
    App app(tree);
    ASSERT_TRUE(waitFor([&] { return dimmed(); }, 8s));
    EXPECT_EQ(app.stop(signal), 0);
    EXPECT_TRUE(atFull());
    EXPECT_TRUE(std::filesystem::is_empty(tree.path("run/Dimmora")));
  }

  const auto text = readTextFile(tree.path("config/Dimmora/config.json"));
  ASSERT_TRUE(text);
  const auto config = nlohmann::json::parse(*text, nullptr, false);
  ASSERT_TRUE(config.is_object());
  EXPECT_EQ(config["fadeDurationSeconds"], 1);
  EXPECT_EQ(config["steps"].size(), 2u);
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

TEST_F(DimmoraApp, WithoutAReachableDisplayItExplainsAndExits) {
  // No DISPLAY, then one that names no running server: both are explained in
  // Dimmora's words before Qt would abort with its own advice.
  int number = 400;
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
  const std::string dead = ":" + std::to_string(number);
  EXPECT_EQ(App(tree, {"DISPLAY="}).waitExit(5s), 1);
  EXPECT_EQ(App(tree, {"DISPLAY=" + dead}).waitExit(5s), 1);
  const auto log = readTextFile(tree.path("app.log")).value_or("");
  EXPECT_NE(log.find("dimmora: no X11 display"), std::string::npos) << log;
  EXPECT_NE(log.find("dimmora: cannot reach the X server of display " + dead), std::string::npos) << log;
  EXPECT_EQ(log.find("Qt"), std::string::npos) << log;
}

TEST_F(DimmoraApp, WithoutASessionBusNoBusDaemonIsLeftBehind) {
  // libdbus would start one through dbus-launch from PATH; this one only says it was asked.
  tree.write("bin/dbus-launch", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/asked\"\nexit 1\n");
  std::filesystem::permissions(tree.path("bin/dbus-launch"), std::filesystem::perms::owner_all);
  const std::string path = "PATH=" + tree.path("bin").string() + ":" + std::getenv("PATH");
  run("xdotool key shift");
  App app(tree, {"DBUS_SESSION_BUS_ADDRESS=", path});
  // Dimmed: the tray, the window and every other part have started by now.
  ASSERT_TRUE(waitFor([&] { return dimmed(); }, 8s));
  EXPECT_EQ(app.stop(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::exists(tree.path("bin/asked")))
      << readTextFile(tree.path("bin/asked")).value_or("");
}
