// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private session bus per test, connections to it, and a way to let D-Bus
// traffic flow while waiting for something to happen.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "LinuxTestSupport.hpp"
#include "platform/linux/DBusSession.hpp"
#include "platform/sim/TemporaryFolder.hpp"

extern char** environ;

// A dbus-daemon of its own that activates nothing, so no service installed on
// the machine answers in place of the one a test starts.
class PrivateSessionBus {
 public:
  PrivateSessionBus() {
    const auto config = folder_.path() / "bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=" << folder_.path().string()
                          << "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
    std::istringstream lines(run("dbus-daemon --config-file=" + config.string() + " --fork --print-address=1 --print-pid=1"));
    std::getline(lines, address_);
    lines >> pid_;
  }
  ~PrivateSessionBus() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  const std::string& address() const { return address_; }
  bool isRunning() const { return pid_ > 0 && !address_.empty(); }

 private:
  TemporaryFolder folder_{"dimmora-bus"};
  std::string address_;
  pid_t pid_ = 0;
};

// A client connection to a bus at an address, closed at the end.
class BusConnection {
 public:
  explicit BusConnection(const std::string& address) {
    int r = sd_bus_new(&bus_);
    if (r >= 0) r = sd_bus_set_address(bus_, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus_, 1);
    if (r >= 0) r = sd_bus_start(bus_);
    if (r < 0) bus_ = sd_bus_unref(bus_);
  }
  ~BusConnection() { sd_bus_flush_close_unref(bus_); }
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;
  sd_bus* get() const { return bus_; }

 private:
  sd_bus* bus_ = nullptr;
};

// Handles what arrives on the buses (and runs `also` each round) until `done`
// holds or `seconds` of real time have passed.
inline bool pumpBuses(const std::vector<sd_bus*>& buses, const std::function<bool()>& done, double seconds,
                      const std::function<void()>& also = {}) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    for (sd_bus* bus : buses)
      while (sd_bus_process(bus, nullptr) > 0) {
      }
    if (also) also();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    sd_bus_wait(buses.front(), 10'000);
  }
}

// A child process with extra environment, stopped at the end. Its output goes
// to `output` when given, else to the test's own.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment,
               const std::filesystem::path& output = {}) {
    std::vector<std::string> environment = extraEnvironment;
    for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
    std::vector<char*> argv, envp;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty()) {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

 private:
  pid_t pid_ = 0;
};
