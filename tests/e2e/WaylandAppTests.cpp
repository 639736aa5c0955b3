// The real executable in a Wayland session: under the headless sway and
// Mutter of scripts/test.d it dims after the idle step and comes back on
// input (injected with wtype under sway, Mutter's ResetIdletime under Mutter),
// observed through its display-control trace; under our own compositor,
// whose gamma control works, the tables themselves show it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "../wayland/TestCompositorProcess.hpp"
#include "AppTestSupport.hpp"
#include "platform/wayland/WaylandOutputs.hpp"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// 40 % after 2 idle seconds, a one-second fade; `extra` adds settings.
void writeConfig(const TempTree& tree, const nlohmann::json& extra = nlohmann::json::object()) {
  nlohmann::json config = {
      {"steps", {{{"id", "EAD05D0D-830B-495E-B47F-F02CA8CF7D4A"}, {"idleSeconds", 0}, {"brightnessPercent", 100}},
                 {{"id", "718A23E6-BF5A-4B99-AEBB-204C8AD781E7"}, {"idleSeconds", 2}, {"brightnessPercent", 40}}}},
      {"fadeDurationSeconds", 1},
      {"frameRate", 24},
      {"fadeCurve", "linear"}};
  config.update(extra);
  tree.write("config/Dimmora/config.json", config.dump(2));
  std::filesystem::create_directories(tree.path("run"));
  std::filesystem::permissions(tree.path("run"), std::filesystem::perms::owner_all);
}

class WaylandApp : public ::testing::Test {
 protected:
  TempTree tree;
  std::string sway;

  void SetUp() override {
    writeConfig(tree);
  }
  void TearDown() override {
    if (::testing::Test::HasFailure()) std::fprintf(stderr, "app log:\n%s\n", log().c_str());
  }
  std::string log() const { return readTextFile(tree.path("app.log")).value_or(""); }
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
  void neverDimsWhileInputGoesOnAndComesBackOnInput(App& app, const std::function<void()>& input,
                                                     const char* compositor) {
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
    const auto seen = Clock::now();
    ASSERT_TRUE(restored);
    const auto sinceInput = std::chrono::duration_cast<std::chrono::milliseconds>(seen - returned).count();
    std::printf("input-to-restore on %s: %lld ms after the injection returned (%lld ms including its start)\n",
                compositor, static_cast<long long>(sinceInput),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(seen - started).count()));
    EXPECT_LT(sinceInput, 100);
    EXPECT_EQ(app.stop(SIGTERM), 0);
  }
};
}  // namespace

TEST_F(WaylandApp, NeverDimsWhileTypingDimsAfterTheIdleStepAndComesBackOnInput) {
  REQUIRE_SWAY();
  sway = std::getenv("DIMMORA_SWAY_DISPLAY");
  App app(tree, {"DISPLAY=", "WAYLAND_DISPLAY=" + sway, "DIMMORA_TRACE=1"});
  neverDimsWhileInputGoesOnAndComesBackOnInput(app, [&] { type("x"); }, "sway");
  EXPECT_NE(log().find("Wayland session"), std::string::npos);
  EXPECT_NE(log().find("Idle time from the compositor through"), std::string::npos);
}

TEST_F(WaylandApp, UnderGnomeIdleTimeAndInputComeFromMutter) {
  const char* display = std::getenv("DIMMORA_MUTTER_DISPLAY");
  const char* bus = std::getenv("DIMMORA_MUTTER_BUS");
  if (!display || !bus) GTEST_SKIP() << "no headless Mutter (scripts/test starts one where Mutter can run)";
  App app(tree, {"DISPLAY=", std::string("WAYLAND_DISPLAY=") + display, std::string("DBUS_SESSION_BUS_ADDRESS=") + bus,
                 "DIMMORA_TRACE=1"});
  const std::string reset = std::string("dbus-send --bus='") + bus +
                            "' --print-reply --dest=org.gnome.Mutter.IdleMonitor /org/gnome/Mutter/IdleMonitor/Core "
                            "org.gnome.Mutter.IdleMonitor.ResetIdletime >/dev/null 2>&1";
  neverDimsWhileInputGoesOnAndComesBackOnInput(app, [&] { run(reset); }, "Mutter");
  EXPECT_NE(log().find("Idle time from GNOME's org.gnome.Mutter.IdleMonitor"), std::string::npos);
}

TEST(WaylandAppOnOwnCompositor, DimsThroughTheGammaControlAndAResumeRestoresIt) {
  TempTree tree;
  TestCompositor compositor(tree);
  ASSERT_EQ(compositor.expect("ready"), "ready");
  const DisplayID output = WaylandOutputs::displayIDForName("DP-7");
  writeConfig(tree, {{"selectedDisplayIDs", {output}}, {"displayFullGammaModes", {output, true}}});
  // Our compositor draws nothing, so Qt stays off screen; the binding still works through the compositor.
  App app(tree, {"DISPLAY=", "WAYLAND_DISPLAY=" + compositor.socket(), "QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(compositor.expect("idle notification", nullptr, 5s), "idle notification 1000");
  compositor.send("idle");
  // 40 % of the range above the 5 % safety floor, through gamma alone.
  const std::string dimmed = compositor.expect("gamma 28", nullptr, 6s);
  ASSERT_FALSE(dimmed.empty()) << readTextFile(tree.path("app.log")).value_or("");
  compositor.expect("gamma 28", nullptr, 300ms);  // the fade's last frame, if it is still on its way

  const auto sent = Clock::now();
  compositor.send("resume");
  ASSERT_EQ(compositor.expect("gamma released", nullptr, 2s), "gamma released");
  const auto restore = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
  std::printf("input-to-restore on the test compositor: %.1f ms\n", restore);
  EXPECT_LT(restore, 100);
  EXPECT_EQ(app.stop(SIGTERM), 0);
}
