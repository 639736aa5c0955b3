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
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
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

// Transfers on one bus follow each other, a Get VCP request is followed by
// its reply read through the same open file, nothing between them, no Set VCP
// is ignored, and Set VCP messages are at least 50 ms apart.
inline void expectOrderlyTransfers(const MonitorModel& monitor) {
  const auto transfers = ddcciTransfers(monitor);
  for (std::size_t i = 1; i < transfers.size(); ++i) {
    EXPECT_GE(transfers[i].at, transfers[i - 1].end) << "transfer " << i << " overlaps the one before";
    if (transfers[i - 1].meaning.rfind("get ", 0) == 0) {
      EXPECT_EQ(transfers[i].kind, MonitorTransfer::Kind::read) << "transfer " << i;
      EXPECT_EQ(transfers[i].client, transfers[i - 1].client) << "transfer " << i;
    }
  }
  for (const auto& t : transfers) EXPECT_EQ(t.meaning.rfind("ignored", 0), std::string::npos) << t.meaning;
  const auto writes = monitor.brightnessWrites();
  for (std::size_t i = 1; i < writes.size(); ++i) EXPECT_GE(writes[i].at - writes[i - 1].at, 50ms) << "write " << i;
}

// Where the program's main thread is, sampled every millisecond from
// /proc/PID/syscall (readable for a child of the test): in its loop's wait
// (poll), blocked in another call, or running. The longest time it was seen
// in one other call is how long that call (a transfer, a sleep, a file
// write) kept it from its loop.
class MainThreadProbe {
 public:
  explicit MainThreadProbe(pid_t pid)
      : path_("/proc/" + std::to_string(pid) + "/syscall"), thread_([this] { sample(); }) {}
  ~MainThreadProbe() {
    stop_ = true;
    thread_.join();
  }
  MainThreadProbe(const MainThreadProbe&) = delete;
  MainThreadProbe& operator=(const MainThreadProbe&) = delete;

  // The longest time in one call, leaving out futex: a hand-over of a lock
  // with another thread of the process (Qt's, the testbed's), which a machine
  // this loaded stretches whatever the program does.
  Milliseconds longestBlockedOtherThanFutex() const {
    std::lock_guard lock(mutex_);
    return longestBlocked_;
  }
  // The longest time in a sleep (nanosleep, clock_nanosleep).
  Milliseconds longestSleep() const {
    std::lock_guard lock(mutex_);
    return longestSleep_;
  }
  int samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
  }

 private:
  void sample() {
    std::string blockedIn;  // the call as sampled, without the stack and instruction pointers
    MonitorClock::time_point blockedSince;
    while (!stop_) {
      std::ifstream file(path_);
      std::string line;
      const auto now = MonitorClock::now();
      if (std::getline(file, line)) {
        const long call = line.rfind("running", 0) == 0 ? -1 : std::strtol(line.c_str(), nullptr, 10);
        const std::string key = line.substr(0, line.rfind(' ', line.rfind(' ') - 1));
        std::lock_guard lock(mutex_);
        ++samples_;
        if (call < 0 || call == SYS_ppoll
#ifdef SYS_poll
            || call == SYS_poll
#endif
        ) {
          blockedIn.clear();
        } else if (key != blockedIn) {
          blockedIn = key;
          blockedSince = now;
        } else {
          const Milliseconds took = now - blockedSince;
          if (call != SYS_futex) longestBlocked_ = std::max(longestBlocked_, took);
          if (call == SYS_nanosleep || call == SYS_clock_nanosleep) longestSleep_ = std::max(longestSleep_, took);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  const std::string path_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  Milliseconds longestBlocked_{0};
  Milliseconds longestSleep_{0};
  int samples_ = 0;
  std::thread thread_;  // last: it starts once the rest is there
};

// Sets (or, with no bytes, deletes) the EDID property of a RandR output.
inline void setOutputEdid(Display* display, std::uint32_t output, const std::vector<std::uint8_t>& edid) {
  const Atom property = XInternAtom(display, "EDID", False);
  if (edid.empty())
    XRRDeleteOutputProperty(display, output, property);
  else
    XRRChangeOutputProperty(display, output, property, XA_INTEGER, 8, PropModeReplace, edid.data(),
                            static_cast<int>(edid.size()));
  XSync(display, False);
}

// The program under the private X server inside a umockdev testbed, on a
// private session bus: up to four outputs of the server, each given the EDID
// of a monitor plugged into the testbed (or of a panel). Steps: 40 % after 2
// idle seconds (a monitor at 70 then rests at 31), the fade as long as the
// test says.
class EmulatedMonitorApp : public DimmoraApp {
 protected:
  KernelTestbed testbed;
  PrivateSessionBus bus;
  BusClient client{bus.address()};
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
    // Leave the shared server as it was found: one output, no EDIDs.
    for (const auto& screen : screens) {
      setOutputEdid(session->display(), screen.output, {});
      if (screen.outputName != "DUMMY0") run("xrandr --output " + screen.outputName + " --off");
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
    if (output) setOutputEdid(session->display(), output, edid);
    screens.push_back({output, outputName, number, monitor});
    return *monitor;
  }

  void configure(double fadeSeconds) {
    auto config = dimmingConfig(fadeSeconds);
    config["selectedDisplayIDs"] = nlohmann::json::array();
    for (const auto& screen : screens) config["selectedDisplayIDs"].push_back(screen.output);
    prepareHome(tree, config);
  }

  // The program in the testbed, on the private bus; `environment` wins over those.
  std::unique_ptr<App> start(std::vector<std::string> environment = {"DIMMORA_TRACE=1"},
                             std::string program = DIMMORA_EXECUTABLE) {
    run("xdotool key shift");
    for (const auto& entry : testbed.environment()) environment.push_back(entry);
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.address());
    return std::make_unique<App>(tree, environment, program);
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

  // Presses a key and waits, reading the top entry of `output`'s table straight
  // from the server every millisecond, until it is full again; how long after
  // the key's start that took (the server keeps 8 bits: the top of a full table reads 0xFF00).
  std::chrono::steady_clock::duration keyRestoresTheGammaTable(std::uint32_t output) {
    const auto observer = X11Session::open();  // a connection of its own, nothing cached
    EXPECT_TRUE(observer);
    if (!observer) return std::chrono::hours(1);
    RandrScreen randr(*observer);
    const auto top = [&] {
      const auto ramps = randr.gamma(output);
      return ramps && !ramps->red.empty() ? ramps->red.back() / 65535.0 : 0.0;
    };
    const auto key = std::chrono::steady_clock::now();
    run("xdotool key a");
    while (top() < 0.99 && std::chrono::steady_clock::now() - key < 3s) std::this_thread::sleep_for(1ms);
    return std::chrono::steady_clock::now() - key;
  }
};
