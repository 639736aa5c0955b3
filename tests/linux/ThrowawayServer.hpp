// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/X11Session.hpp"
#include "SessionBusTestSupport.hpp"

// An X server of the test's own on a free display number, so the shared one
// keeps its state; stopped when the object goes.
class ThrowawayServer {
 public:
  // `command` gets the display name appended after its first word.
  explicit ThrowawayServer(std::vector<std::string> command) {
    int number = 150;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
           std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock"))
      ++number;
    name_ = ":" + std::to_string(number);
    command.insert(command.begin() + 1, name_);
    server_ = std::make_unique<ChildProcess>(command, std::vector<std::string>{}, "/dev/null");
    for (int i = 0; i < 200 && !session_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      session_ = X11Session::open(name_);
    }
  }
  ~ThrowawayServer() {
    session_.reset();
    stop();
  }
  void stop() { server_.reset(); }
  const std::string& name() const { return name_; }
  // The first connection, opened once the server answered; null when it never did.
  std::unique_ptr<X11Session>& session() { return session_; }
  // Runs a shell command against this server.
  std::string run(const std::string& command) const { return ::run("DISPLAY=" + name_ + " " + command); }

 private:
  std::string name_;
  std::unique_ptr<ChildProcess> server_;
  std::unique_ptr<X11Session> session_;
};
