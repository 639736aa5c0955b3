// The binding against our own compositor (tests/compositor), which offers
// ext-idle-notify-v1 and a gamma control that works: idle and resume, a
// ramp that arrives, and a control the compositor takes back mid-session.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "../linux/LinuxTestSupport.hpp"
#include "WaylandTestSupport.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/NearBlackGammaController.hpp"
#include "platform/qt/QtInputMonitors.hpp"
#include "platform/wayland/WaylandGammaTables.hpp"
#include "platform/wayland/WaylandIdle.hpp"
#include "platform/wayland/WaylandOutputs.hpp"
#include "ports/SystemPorts.hpp"

extern char** environ;

namespace {
using namespace std::chrono_literals;

// The compositor as a child process: commands on its input, its reports read line by line.
class TestCompositor {
 public:
  explicit TestCompositor(const TempTree& tree) : socket_(tree.folder("run") / "wayland-test") {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> env{"XDG_RUNTIME_DIR=" + socket_.parent_path().string()};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = DIMMORA_TEST_COMPOSITOR, name = "wayland-test";
    char* argv[] = {program.data(), name.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    commands_ = in[1];
    reports_ = out[0];
  }
  ~TestCompositor() {
    if (commands_ >= 0) close(commands_);
    if (reports_ >= 0) close(reports_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string socket() const { return socket_.string(); }
  void send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(commands_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // Waits for a report line starting with `prefix`, dispatching `session` meanwhile; the line, or "" on time-out.
  std::string expect(const std::string& prefix, WaylandSession* session = nullptr,
                     std::chrono::milliseconds limit = 2s) {
    std::string found;
    auto take = [&] {
      for (auto end = buffer_.find('\n'); end != std::string::npos && found.empty(); end = buffer_.find('\n')) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (line.rfind(prefix, 0) == 0) found = line;
      }
      return !found.empty();
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!take() && std::chrono::steady_clock::now() < deadline) {
      if (session) {
        session->flush();
        pumpUntil(*session, [] { return false; }, 5ms);
      }
      pollfd fd{reports_, POLLIN, 0};
      if (poll(&fd, 1, 5) > 0) {
        char chunk[256];
        const ssize_t n = read(reports_, chunk, sizeof chunk);
        if (n <= 0) break;
        buffer_.append(chunk, static_cast<std::size_t>(n));
      }
    }
    return found;
  }

 private:
  std::filesystem::path socket_;
  pid_t pid_ = -1;
  int commands_ = -1;
  int reports_ = -1;
  std::string buffer_;
};

class OwnCompositor : public ::testing::Test {
 protected:
  TempTree tree;
  TestCompositor compositor{tree};
  std::unique_ptr<WaylandSession> session;
  std::unique_ptr<WaylandOutputs> outputs;
  DisplayID output = 0;

  void SetUp() override {
    ASSERT_EQ(compositor.expect("ready"), "ready");
    std::string error;
    session = WaylandSession::connect(compositor.socket(), error);
    ASSERT_TRUE(session) << error;
    outputs = std::make_unique<WaylandOutputs>(*session);
    ASSERT_TRUE(session->roundtrip());
    ASSERT_EQ(outputs->outputs().size(), 1u);
    EXPECT_EQ(outputs->outputs().front().name, "DP-7");
    output = outputs->outputs().front().id;
  }
};

std::vector<float> ramp(double scale) {
  std::vector<float> r(256);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<float>(scale * static_cast<double>(i) / 255.0);
  return r;
}
}  // namespace

TEST_F(OwnCompositor, IdleAndResumeEventsDriveTheIdleSecondsAndTheActivityMonitor) {
  WaylandIdle idle(*session, secondsNow);
  ASSERT_EQ(idle.protocol(), WaylandIdle::Protocol::extIdleNotify);
  EXPECT_EQ(compositor.expect("idle notification", session.get()), "idle notification 1000");
  QtInputMonitors monitors(&idle.resumed);
  int activity = 0;
  auto global = monitors.addGlobalMonitor(eventMaskBit(InputEventType::keyDown), [&](const InputEvent&) { ++activity; });

  EXPECT_EQ(idle.secondsSinceLastEvent(InputEventType::keyDown), 0.0);
  compositor.send("idle");
  ASSERT_FALSE(compositor.expect("did idle", session.get()).empty());
  ASSERT_TRUE(pumpUntil(*session, [&] { return *idle.secondsSinceLastEvent(InputEventType::keyDown) >= 1.0; }, 1s));
  // The idled event means a second without input already; the count grows from there.
  ASSERT_TRUE(pumpUntil(*session, [&] { return *idle.secondsSinceLastEvent(InputEventType::scrollWheel) >= 1.3; }, 1s));
  EXPECT_EQ(activity, 0);

  const auto sent = std::chrono::steady_clock::now();
  compositor.send("resume");
  ASSERT_TRUE(pumpUntil(*session, [&] { return activity == 1; }, 1s));
  std::printf("resume-to-activity on the test compositor: %.2f ms\n",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count());
  EXPECT_EQ(idle.secondsSinceLastEvent(InputEventType::keyDown), 0.0);
}

TEST_F(OwnCompositor, ARampReachesTheCompositorAndTheIdentityLetsTheControlGo) {
  WaylandGammaTables gamma(*session, *outputs);
  EXPECT_EQ(gamma.capacity(output), 256u);
  // Learning the size does not keep the output from other tools.
  EXPECT_EQ(compositor.expect("gamma held", session.get()), "gamma held");
  EXPECT_EQ(compositor.expect("gamma released", session.get()), "gamma released");
  EXPECT_EQ(gamma.unavailableReason(output), "");

  std::vector<float> r(256), g(256), b(256);
  std::uint32_t count = 0;
  ASSERT_EQ(gamma.getTransfer(output, 256, r.data(), g.data(), b.data(), count), GammaTables::success);
  ASSERT_EQ(count, 256u);
  EXPECT_EQ(r.front(), 0.0f);
  EXPECT_EQ(b.back(), 1.0f);
  EXPECT_EQ(gamma.setTransfer(output, 128, r.data(), g.data(), b.data()), GammaTables::illegalArgument);

  const auto half = ramp(0.5), quarter = ramp(0.25);
  ASSERT_EQ(gamma.setTransfer(output, 256, half.data(), half.data(), quarter.data()), GammaTables::success);
  EXPECT_EQ(compositor.expect("gamma ", session.get()), "gamma held");
  EXPECT_EQ(compositor.expect("gamma ", session.get()), "gamma 32768 32768 16384");
  ASSERT_EQ(gamma.setTransfer(output, 256, r.data(), g.data(), b.data()), GammaTables::success);
  EXPECT_EQ(compositor.expect("gamma ", session.get()), "gamma released");

  // Held by someone else: refused, with the reason.
  std::string error;
  auto other = WaylandSession::connect(compositor.socket(), error);
  WaylandOutputs otherOutputs(*other);
  other->roundtrip();
  WaylandGammaTables otherGamma(*other, otherOutputs);
  ASSERT_EQ(otherGamma.setTransfer(output, 256, half.data(), half.data(), half.data()), GammaTables::success);
  EXPECT_EQ(gamma.setTransfer(output, 256, half.data(), half.data(), half.data()), GammaTables::failure);
  EXPECT_EQ(gamma.capacity(output), 0u);
  EXPECT_EQ(gamma.unavailableReason(output), ControlStatus::gammaRefused);
}

TEST_F(OwnCompositor, AControlTakenBackMidSessionLeavesTheDisplayWithoutGammaAndTheReason) {
  WaylandGammaTables gamma(*session, *outputs);
  SystemPorts ports;
  ports.gamma = &gamma;
  ScopedSystemPorts scope(ports);
  ControlStatusStore::shared().clear();
  std::vector<DisplayID> failed;
  auto watch = gamma.controlFailed.connect([&](const DisplayID& id) { failed.push_back(id); });

  // Full-gamma mode at 40 %: the table is scaled and handed over.
  NearBlackGammaController controller;
  controller.apply({{output, 40.0}}, {output}, {output}, 5);
  ASSERT_EQ(controller.appliedScales().count(output), 1u);
  EXPECT_EQ(compositor.expect("gamma 2", session.get()), "gamma 26214 26214 26214");

  compositor.send("fail");
  ASSERT_TRUE(pumpUntil(*session, [&] { return !failed.empty(); }, 1s));
  EXPECT_EQ(failed.front(), output);
  EXPECT_EQ(gamma.capacity(output), 0u);
  EXPECT_EQ(NearBlackGammaController::unavailableReason(output), std::string(ControlStatus::gammaRefused));
  controller.apply({{output, 30.0}}, {output}, {output}, 5);
  EXPECT_EQ(ControlStatusStore::shared().status(output), ControlStatus::gammaRefused);
  ControlStatusStore::shared().clear();
  EXPECT_TRUE(session->isAlive());
}
