// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The real executable as a child process with its own configuration and
// runtime folders, for the end-to-end tests.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../linux/LinuxTestSupport.hpp"
#include "platform/linux/DrmConnectors.hpp"
#include "platform/x11/RandrScreen.hpp"
#include "platform/x11/X11Session.hpp"

extern char** environ;

using namespace std::chrono_literals;

// Polls until `done` holds; the app runs on real time, so this waits for real.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

// One run of build/dimmora (or another copy of the program) with its own
// configuration and runtime folders. The test's variables win over these
// defaults and the inherited ones; an empty value ("DISPLAY=") removes the
// variable.
struct ProgramCopy {
  ProgramCopy(std::string program = DIMMORA_EXECUTABLE, std::filesystem::path workingDirectory = {})
      : program(std::move(program)), workingDirectory(std::move(workingDirectory)) {}
  std::string program;
  std::filesystem::path workingDirectory;  // the test's own when empty
};
class App {
 public:
  App(const TempTree& tree, std::vector<std::string> extraEnvironment = {}, ProgramCopy copy = {},
      std::vector<std::string> arguments = {}) {
    std::vector<std::string> env = extraEnvironment;
    auto add = [&](const std::string& entry) {
      const auto name = entry.substr(0, entry.find('=') + 1);
      if (std::none_of(env.begin(), env.end(), [&](const std::string& set) { return set.rfind(name, 0) == 0; }))
        env.push_back(entry);
    };
    add("XDG_CONFIG_HOME=" + tree.path("config").string());
    add("XDG_RUNTIME_DIR=" + tree.path("run").string());
    // In the sanitizer build, a system library's leak at exit must not turn a clean exit into a failure.
    add(std::string("LSAN_OPTIONS=suppressions=") + DIMMORA_LSAN_SUPPRESSIONS);
    for (char** e = environ; *e; ++e) add(*e);
    std::vector<char*> envp;
    for (auto& e : env)
      if (e.back() != '=') envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv{copy.program.data()};
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, tree.path("app.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (!copy.workingDirectory.empty())
      posix_spawn_file_actions_addchdir_np(&actions, copy.workingDirectory.c_str());
    if (posix_spawn(&pid_, copy.program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
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

inline std::optional<double> xrandrBrightness() {
  const auto text = run("xrandr --verbose");
  const auto at = text.find("Brightness: ");
  if (at == std::string::npos) return std::nullopt;
  return std::stod(text.substr(at + 12));
}

// The steps the end-to-end tests dim by: 40 % after 2 idle seconds, a linear
// fade of `fadeSeconds` at 24 frames a second.
inline nlohmann::json dimmingConfig(double fadeSeconds = 1) {
  return {{"steps", {{{"id", "EAD05D0D-830B-495E-B47F-F02CA8CF7D4A"}, {"idleSeconds", 0}, {"brightnessPercent", 100}},
                     {{"id", "718A23E6-BF5A-4B99-AEBB-204C8AD781E7"}, {"idleSeconds", 2}, {"brightnessPercent", 40}}}},
          {"fadeDurationSeconds", fadeSeconds},
          {"frameRate", 24},
          {"fadeCurve", "linear"}};
}

// The program's settings file, and the private runtime folder a session gives it.
inline void prepareHome(const TempTree& tree, const nlohmann::json& config) {
  tree.write("config/Dimmora/config.json", config.dump(2));
  std::filesystem::create_directories(tree.path("run"));
  std::filesystem::permissions(tree.path("run"), std::filesystem::perms::owner_all);
}

// The base of every end-to-end fixture: the program's own home folder, and
// its log, shown when a test fails.
class ProgramTest : public ::testing::Test {
 protected:
  TempTree tree;

  void TearDown() override {
    if (::testing::Test::HasFailure()) std::fprintf(stderr, "app log:\n%s\n", log().c_str());
  }
  std::string log() const { return readTextFile(tree.path("app.log")).value_or(""); }
  void expectSaid(std::initializer_list<std::string> texts) const {
    const auto said = log();
    for (const auto& text : texts) EXPECT_NE(said.find(text), std::string::npos) << text;
  }
  bool saidOnce(const std::string& text) const {
    const auto said = log();
    const auto at = said.find(text);
    return at != std::string::npos && said.find(text, at + 1) == std::string::npos;
  }
};

// The program under the private X server, its first output in full gamma
// mode, dimming by dimmingConfig(). Every test of the program on that server
// derives from this one fixture.
class DimmoraApp : public ProgramTest {
 protected:
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
    auto config = dimmingConfig();
    config["selectedDisplayIDs"] = {outputID};
    config["displayFullGammaModes"] = {outputID, true};
    prepareHome(tree, config);
  }
  void TearDown() override {
    ProgramTest::TearDown();
    // Leave the shared server as it was found.
    if (std::getenv("DISPLAY")) run("xrandr --output $(xrandr | awk '/ connected/{print $1; exit}') --gamma 1:1:1");
  }
  // Changes settings before the program starts.
  void reconfigure(const std::function<void(nlohmann::json&)>& change) {
    auto config = nlohmann::json::parse(*readTextFile(tree.path("config/Dimmora/config.json")));
    change(config);
    tree.write("config/Dimmora/config.json", config.dump(2));
  }
  bool dimmed() {
    const auto b = xrandrBrightness();
    return b && *b < 0.6;
  }
  bool atFull() { return xrandrBrightness() == 1.0; }
};
