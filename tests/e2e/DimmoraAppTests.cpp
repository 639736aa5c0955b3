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

#include "../linux/LinuxTestSupport.hpp"
#include "platform/linux/DrmConnectors.hpp"
#include "platform/linux/RandrScreen.hpp"
#include "platform/linux/X11Session.hpp"

extern char** environ;

namespace {
using namespace std::chrono_literals;

std::optional<double> xrandrBrightness() {
  const auto text = run("xrandr --verbose");
  const auto at = text.find("Brightness: ");
  if (at == std::string::npos) return std::nullopt;
  return std::stod(text.substr(at + 12));
}

// Polls until `done` holds; the app runs on real time, so this waits for real.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

// One run of build/dimmora with its own configuration and runtime folders.
// An extra variable with an empty value ("DISPLAY=") is removed.
class App {
 public:
  App(const TempTree& tree, std::vector<std::string> extraEnvironment = {}) {
    extraEnvironment.push_back("XDG_CONFIG_HOME=" + tree.path("config").string());
    extraEnvironment.push_back("XDG_RUNTIME_DIR=" + tree.path("run").string());
    // In the sanitizer build, a system library's leak at exit must not turn a clean exit into a failure.
    extraEnvironment.push_back(std::string("LSAN_OPTIONS=suppressions=") + DIMMORA_LSAN_SUPPRESSIONS);
    std::vector<std::string> env = extraEnvironment;
    for (char** e = environ; *e; ++e) {
      const std::string entry(*e);
      const auto name = entry.substr(0, entry.find('=') + 1);
      if (std::none_of(extraEnvironment.begin(), extraEnvironment.end(),
                       [&](const std::string& extra) { return extra.rfind(name, 0) == 0; }))
        env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : env)
      if (e.back() != '=') envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = DIMMORA_EXECUTABLE;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, tree.path("app.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~App() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // The exit status after `signal`, or nullopt when it did not end within 5 s.
  std::optional<int> stop(int signal) {
    kill(pid_, signal);
    return waitExit(5s);
  }
  std::optional<int> waitExit(std::chrono::milliseconds limit) {
    int status = 0;
    const bool ended = waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) return std::nullopt;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
};

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
