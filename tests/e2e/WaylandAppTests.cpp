// The real executable in the headless sway session of scripts/test.d: it
// dims after the idle step and comes back on input injected with wtype,
// observed through its display-control trace.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
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
    REQUIRE_SWAY();
    sway = std::getenv("DIMMORA_SWAY_DISPLAY");
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
};
}  // namespace

TEST_F(WaylandApp, NeverDimsWhileTypingDimsAfterTheIdleStepAndComesBackOnInput) {
  App app(tree, {"DISPLAY=", "WAYLAND_DISPLAY=" + sway, "DIMMORA_TRACE=1"});
  ASSERT_GT(app.pid(), 0);
  ASSERT_TRUE(waitFor([&] { return !levels().empty(); }, 5s));
  EXPECT_NE(log().find("Wayland session"), std::string::npos);
  EXPECT_NE(log().find("Idle time from the compositor through"), std::string::npos);

  // Typing in another client for twice the idle step keeps the displays at rest.
  for (int i = 0; i < 8; ++i) {
    type("x");
    std::this_thread::sleep_for(500ms);
  }
  for (int level : levels()) EXPECT_EQ(level, 100);

  // Left alone, it fades to the step.
  ASSERT_TRUE(waitFor([&] { return !levels().empty() && levels().back() == 40; }, 6s));
  const auto dimmed = levels().size();
  EXPECT_GT(dimmed, 3u);  // through a fade

  const auto typed = Clock::now();
  type("a");
  const auto returned = Clock::now();
  bool restored = false;
  while (!restored && Clock::now() - typed < 2s) {
    const auto now = levels();
    restored = now.size() > dimmed && now.back() == 100;
    if (!restored) std::this_thread::sleep_for(1ms);
  }
  const auto seen = Clock::now();
  ASSERT_TRUE(restored);
  const auto sinceInput = std::chrono::duration_cast<std::chrono::milliseconds>(seen - returned).count();
  std::printf("input-to-restore on sway: %lld ms after wtype returned (%lld ms including wtype's start)\n",
              static_cast<long long>(sinceInput),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(seen - typed).count()));
  EXPECT_LT(sinceInput, 100);
  EXPECT_EQ(app.stop(SIGTERM), 0);
}
