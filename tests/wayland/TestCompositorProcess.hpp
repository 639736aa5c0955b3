// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "../linux/LinuxTestSupport.hpp"
#include "WaylandTestSupport.hpp"
#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "platform/wayland/WaylandGammaTables.hpp"
#include "platform/wayland/WaylandOutputs.hpp"
#include <wayland-client.h>

// The compositor as a child process: commands on its input, its reports read line by line.
class TestCompositor {
 public:
  // `options` go after the socket name ("--idle-notify-version=1").
  explicit TestCompositor(const TempTree& tree, std::vector<std::string> options = {})
      : socket_(tree.folder("run") / "wayland-test") {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string runtime = "XDG_RUNTIME_DIR=" + socket_.parent_path().string();
    char* envp[] = {runtime.data(), nullptr};
    std::string program = DIMMORA_TEST_COMPOSITOR, name = "wayland-test";
    std::vector<char*> argv{program.data(), name.data()};
    for (auto& option : options) argv.push_back(option.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp) != 0) pid_ = -1;
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
                     std::chrono::milliseconds limit = std::chrono::seconds(2)) {
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
        pumpUntil(*session, [] { return false; }, std::chrono::milliseconds(5));
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

// Another client, as a video player is, holding an idle inhibitor on a surface of its own.
class InhibitingClient {
 public:
  explicit InhibitingClient(const std::string& socket) {
    std::string error;
    session_ = WaylandSession::connect(socket, error);
    if (!session_) return;
    const auto compositor = session_->global("wl_compositor");
    const auto manager = session_->global(zwp_idle_inhibit_manager_v1_interface.name);
    if (!compositor || !manager) return;
    auto* wlCompositor = static_cast<wl_compositor*>(session_->bind(*compositor, &wl_compositor_interface, 4));
    surface_ = wl_compositor_create_surface(wlCompositor);
    wl_compositor_destroy(wlCompositor);
    manager_ = static_cast<zwp_idle_inhibit_manager_v1*>(
        session_->bind(*manager, &zwp_idle_inhibit_manager_v1_interface, 1));
    inhibitor_ = zwp_idle_inhibit_manager_v1_create_inhibitor(manager_, surface_);
    session_->roundtrip();
  }
  ~InhibitingClient() { release(); }
  bool holds() const { return inhibitor_ != nullptr; }
  void release() {
    if (!session_) return;
    if (inhibitor_) zwp_idle_inhibitor_v1_destroy(inhibitor_);
    if (manager_) zwp_idle_inhibit_manager_v1_destroy(manager_);
    if (surface_) wl_surface_destroy(surface_);
    inhibitor_ = nullptr, manager_ = nullptr, surface_ = nullptr;
    session_->roundtrip();
  }

 private:
  std::unique_ptr<WaylandSession> session_;
  wl_surface* surface_ = nullptr;
  zwp_idle_inhibit_manager_v1* manager_ = nullptr;
  zwp_idle_inhibitor_v1* inhibitor_ = nullptr;
};

// Another client, as a night light is, holding an output's gamma control with a flat table at `level`.
struct GammaHolder {
  GammaHolder(const std::string& socket, DisplayID output, float level = 0.5f) {
    std::string error;
    session = WaylandSession::connect(socket, error);
    EXPECT_TRUE(session) << error;
    if (!session) return;
    outputs = std::make_unique<WaylandOutputs>(*session);
    session->roundtrip();
    gamma = std::make_unique<WaylandGammaTables>(*session, *outputs);
    const std::vector<float> flat(256, level);
    EXPECT_EQ(gamma->write(output, {flat, flat, flat}), GammaTables::Result::ok);
  }
  std::unique_ptr<WaylandSession> session;
  std::unique_ptr<WaylandOutputs> outputs;
  std::unique_ptr<WaylandGammaTables> gamma;
};

// Every test against our own compositor: the compositor, started with
// `options`, and a client session of the test's own with its outputs (at
// first the one output DP-7, as `output`).
class OwnCompositorTest : public ::testing::Test {
 protected:
  explicit OwnCompositorTest(std::vector<std::string> options = {}) : compositor(tree, std::move(options)) {}
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

  TempTree tree;
  TestCompositor compositor;
  std::unique_ptr<WaylandSession> session;
  std::unique_ptr<WaylandOutputs> outputs;
  DisplayID output = 0;
};
