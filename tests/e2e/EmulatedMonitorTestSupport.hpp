// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The real program on emulated monitors: build/dimmora under the private X
// server, inside a umockdev testbed whose connectors carry the EDIDs of the
// server's outputs, so that each output pairs with a connector, its i2c bus
// and the monitor model answering there.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AppTestSupport.hpp"
#include "BusClient.hpp"
#include "kernel/KernelTestbed.hpp"

#include <sys/syscall.h>

// Xlib's macros (None, Status) after every header that uses those words.
#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

using Milliseconds = std::chrono::duration<double, std::milli>;

inline std::vector<MonitorTransfer> ddcciTransfers(const MonitorModel& monitor) {
  std::vector<MonitorTransfer> found;
  for (auto& t : monitor.transfers())
    if (t.address == MonitorModel::kDDCCIAddress) found.push_back(std::move(t));
  return found;
}

// The least time between two Set VCP messages on the bus.
inline Milliseconds smallestWriteSpacing(const std::vector<BrightnessWrite>& writes) {
  Milliseconds least(1e9);
  for (std::size_t i = 1; i < writes.size(); ++i) least = std::min<Milliseconds>(least, writes[i].at - writes[i - 1].at);
  return least;
}

// Transfers on one bus follow each other, and a Get VCP request is followed
// by its reply read through the same open file, nothing between them.
inline void expectOneTransactionAtATime(const std::vector<MonitorTransfer>& transfers) {
  for (std::size_t i = 1; i < transfers.size(); ++i) {
    EXPECT_GE(transfers[i].at, transfers[i - 1].end) << "transfer " << i << " overlaps the one before";
    if (transfers[i - 1].meaning.rfind("get ", 0) == 0) {
      EXPECT_EQ(transfers[i].kind, MonitorTransfer::Kind::read) << "transfer " << i;
      EXPECT_EQ(transfers[i].client, transfers[i - 1].client) << "transfer " << i;
    }
  }
}

// Where the program's main thread is, sampled every millisecond from
// /proc/PID/syscall (readable for a child of the test): in its loop's wait
// (poll), blocked in another call, or running. The longest time it was seen
// in one other call is how long that call (a transfer, a sleep, a file
// write) kept it from its loop; the longest time away from the loop's wait
// at all also counts work and, on a loaded machine, waiting for a CPU.
class MainThreadProbe {
 public:
  struct Blocked {
    Milliseconds duration{0};
    long call = -1;  // the system call's number
  };

  explicit MainThreadProbe(pid_t pid)
      : path_("/proc/" + std::to_string(pid) + "/syscall"), thread_([this] { sample(); }) {}
  ~MainThreadProbe() {
    stop_ = true;
    thread_.join();
  }
  MainThreadProbe(const MainThreadProbe&) = delete;
  MainThreadProbe& operator=(const MainThreadProbe&) = delete;

  Blocked longestBlocked() const {
    std::lock_guard lock(mutex_);
    return longestBlocked_;
  }
  // The same, leaving out some system calls (futex: a lock handed over by another thread).
  Blocked longestBlockedOtherThan(std::initializer_list<long> excluded) const {
    std::lock_guard lock(mutex_);
    Blocked longest;
    for (const auto& [call, duration] : longestByCall_)
      if (std::find(excluded.begin(), excluded.end(), call) == excluded.end() && duration > longest.duration)
        longest = {duration, call};
    return longest;
  }
  // The longest time in a sleep (nanosleep, clock_nanosleep).
  Milliseconds longestSleep() const {
    std::lock_guard lock(mutex_);
    return longestSleep_;
  }
  Milliseconds longestAway() const {
    std::lock_guard lock(mutex_);
    return longestAway_;
  }
  int samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
  }

 private:
  static bool isLoopWait(long call) {
    return call == SYS_ppoll
#ifdef SYS_poll
           || call == SYS_poll
#endif
        ;
  }

  void sample() {
    using Clock = std::chrono::steady_clock;
    std::string blockedIn;  // the call as sampled, without the stack and instruction pointers
    long blockedCall = -1;
    Clock::time_point blockedSince, awaySince;
    bool looping = false;  // its loop has started: what comes before is the program's start-up
    bool away = false;
    while (!stop_) {
      std::ifstream file(path_);
      std::string line;
      const auto now = Clock::now();
      if (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        const long call = first == "running" ? -1 : std::strtol(first.c_str(), nullptr, 10);
        const std::string key = line.substr(0, line.rfind(' ', line.rfind(' ') - 1));
        std::lock_guard lock(mutex_);
        ++samples_;
        if (call < 0 || isLoopWait(call)) {
          blockedIn.clear();
        } else if (key != blockedIn) {
          blockedIn = key;
          blockedCall = call;
          blockedSince = now;
        } else {
          const Milliseconds took = now - blockedSince;
          if (took > longestBlocked_.duration) longestBlocked_ = {took, blockedCall};
          longestByCall_[blockedCall] = std::max(longestByCall_[blockedCall], took);
          if (call == SYS_nanosleep || call == SYS_clock_nanosleep) longestSleep_ = std::max(longestSleep_, took);
        }
        if (call >= 0 && isLoopWait(call)) {
          looping = true;
          away = false;
        } else if (!looping) {
        } else if (!away) {
          away = true;
          awaySince = now;
        } else {
          longestAway_ = std::max<Milliseconds>(longestAway_, now - awaySince);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  const std::string path_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  Blocked longestBlocked_;
  std::map<long, Milliseconds> longestByCall_;
  Milliseconds longestSleep_{0};
  Milliseconds longestAway_{0};
  int samples_ = 0;
  std::thread thread_;  // last: it starts once the rest is there
};

// Up to four outputs of the private server, each given the EDID of a monitor
// plugged into the testbed. Steps: 40 % after 2 idle seconds (a monitor at
// 70 then rests at 31), the fade as long as the test says.
class EmulatedMonitorApp : public DimmoraApp {
 protected:
  KernelTestbed testbed;
  PrivateSessionBus bus;
  std::unique_ptr<X11Session> session;
  struct Screen {
    std::uint32_t output;
    std::string outputName;
    int bus;
    MonitorModel* monitor;
  };
  std::vector<Screen> screens;

  void SetUp() override {
    DimmoraApp::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    session = X11Session::open();
    ASSERT_TRUE(session);
  }

  void TearDown() override {
    if (session) {
      // Leave the shared server as it was found: one output, no EDIDs.
      Display* display = session->display();
      const Atom edid = XInternAtom(display, "EDID", False);
      for (const auto& screen : screens) {
        XRRDeleteOutputProperty(display, screen.output, edid);
        if (screen.outputName != "DUMMY0") run("xrandr --output " + screen.outputName + " --off");
      }
      XSync(display, False);
    }
    DimmoraApp::TearDown();
  }

  // A monitor plugged into connector `connector` and shown by the server's
  // next output, which carries the same EDID.
  MonitorModel& plug(const std::string& connector, MonitorBehaviour behaviour) {
    const auto index = screens.size();
    const std::string outputName = "DUMMY" + std::to_string(index);
    const auto edid = makeEdid("DMA", static_cast<std::uint16_t>(0x100 + index), 1000 + static_cast<int>(index),
                               "Emulated " + std::to_string(index));
    auto [number, monitor] = testbed.plugMonitor(connector, edid, behaviour);
    if (index > 0) {
      // A plain query afterwards is the probe that stands in for the kernel's hotplug event.
      run("xrandr --addmode " + outputName + " 1280x720 2>/dev/null; xrandr --output " + outputName +
          " --mode 1280x720 --right-of DUMMY" + std::to_string(index - 1) + "; xrandr >/dev/null");
    }
    std::uint32_t output = 0;
    waitFor([&] {
      session->processPending();  // the server's notification drops the cached outputs
      RandrScreen randr(*session);
      for (const auto& o : randr.outputs())
        if (o.name == outputName && o.isOnline()) output = o.id;
      return output != 0;
    }, 3s);
    EXPECT_NE(output, 0u) << outputName << " did not come online: " << run("xrandr");
    if (output) {
      Display* display = session->display();
      XRRChangeOutputProperty(display, output, XInternAtom(display, "EDID", False), XA_INTEGER, 8, PropModeReplace,
                              edid.data(), static_cast<int>(edid.size()));
      XSync(display, False);
    }
    screens.push_back({output, outputName, number, monitor});
    return *monitor;
  }

  void configure(double fadeSeconds) {
    auto config = dimmingConfig(fadeSeconds);
    config["selectedDisplayIDs"] = nlohmann::json::array();
    for (const auto& screen : screens) config["selectedDisplayIDs"].push_back(screen.output);
    prepareHome(tree, config);
  }

  std::unique_ptr<App> start() {
    run("xdotool key shift");
    auto environment = testbed.environment();
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.address());
    environment.push_back("DIMMORA_TRACE=1");
    return std::make_unique<App>(tree, environment);
  }

  // The level a monitor rests at when dimmed to 40 % of its range from
  // `maximum` percent down to the 5 % floor, in the monitor's own units of 100.
  static int dimmedValue(double maximumPercent) {
    return static_cast<int>(std::lround(5 + (maximumPercent - 5) * 0.4));
  }

  // The display's maximum as the settings file stores it.
  std::optional<double> storedMaximum(std::uint32_t output) {
    const auto config = nlohmann::json::parse(readTextFile(tree.path("config/Dimmora/config.json")).value_or(""),
                                              nullptr, false);
    const auto pairs = config.is_object() ? config.find("displayMaximumPercents") : config.end();
    if (pairs == config.end() || !pairs->is_array()) return std::nullopt;
    for (std::size_t i = 0; i + 1 < pairs->size(); i += 2)
      if ((*pairs)[i] == output) return (*pairs)[i + 1].get<double>();
    return std::nullopt;
  }

  std::string controlStatus(std::uint32_t output) { return BusClient(bus.address()).displayStatus(output); }
};
