// The real executable in the headless sway and Mutter sessions of
// scripts/test.d: it dims after the idle step and comes back on input
// (injected with wtype under sway, Mutter's ResetIdletime under Mutter),
// observed through its display-control trace.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "../wayland/WaylandTestSupport.hpp"
#include "AppTestSupport.hpp"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class WaylandApp : public ::testing::Test {
 protected:
  TempTree tree;
  std::string sway;

  void SetUp() override {
    // 40 % after 2 idle seconds, a one-second fade.
    const nlohmann::json config = {
        {"steps", {{{"id", "EAD05D0D-830B-495E-B47F-F02CA8CF7D4A"}, {"idleSeconds", 0}, {"brightnessPercent", 100}},
                   {{"id", "718A23E6-BF5A-4B99-AEBB-204C8AD781E7"}, {"idleSeconds", 2}, {"brightnessPercent", 40}}}},
        {"fadeDurationSeconds", 1},
        {"frameRate", 24},
        {"fadeCurve", "linear"}};
    tree.write("config/Dimmora/config.json", config.dump(2));
    std::filesystem::create_directories(tree.path("run"));
    std::filesystem::permissions(tree.path("run"), std::filesystem::perms::owner_all);
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

