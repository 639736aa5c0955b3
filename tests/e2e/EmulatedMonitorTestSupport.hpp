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
#include <nlohmann/json.hpp>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "AppTestSupport.hpp"
#include "BusClient.hpp"
#include "kernel/KernelTestbed.hpp"

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

inline constexpr const char* kDimmoraBusName = "io.github.dimmora.Dimmora";
inline constexpr const char* kDimmoraObjectPath = "/io/github/dimmora/Dimmora";

// Pings the program over the session bus, one call after another. It answers
// on its main thread, so the longest round trip bounds how long that thread
// was kept from its loop (by a transfer, a sleep, or anything else).
class MainLoopProbe {
 public:
  explicit MainLoopProbe(const std::string& address) : thread_([this, address] { ping(address); }) {}
  ~MainLoopProbe() {
    stop_ = true;
    thread_.join();
  }
  MainLoopProbe(const MainLoopProbe&) = delete;
  MainLoopProbe& operator=(const MainLoopProbe&) = delete;

  // The longest answered round trip so far, and how many were answered.
  Milliseconds longest() const {
    std::lock_guard lock(mutex_);
    return longest_;
  }
  int answered() const {
    std::lock_guard lock(mutex_);
    return answered_;
  }
  // When the longest round trip began.
  std::chrono::steady_clock::time_point longestAt() const {
    std::lock_guard lock(mutex_);
    return longestAt_;
  }

 private:
  void ping(const std::string& address) {
    BusClient client(address);
    while (!stop_) {
      const auto sent = std::chrono::steady_clock::now();
      // The bus daemon answers for the program until its name is taken: those do not count.
      if (client.hasOwner(kDimmoraBusName) &&
          client.call(kDimmoraBusName, "/", "org.freedesktop.DBus.Peer", "Ping").ok) {
        const Milliseconds took = std::chrono::steady_clock::now() - sent;
        std::lock_guard lock(mutex_);
        if (took > longest_) {
          longest_ = took;
          longestAt_ = sent;
        }
        ++answered_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  Milliseconds longest_{0};
  std::chrono::steady_clock::time_point longestAt_;
  int answered_ = 0;
  std::thread thread_;  // last: it starts once the rest is there
};

// Up to four outputs of the private server, each given the EDID of a monitor
// plugged into the testbed. Steps: 40 % after 2 idle seconds (a monitor at
// 70 then rests at 31), the fade as long as the test says.
class EmulatedMonitorApp : public ::testing::Test {
 protected:
  TempTree tree;
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
    REQUIRE_X_SERVER();
    session = X11Session::open();
    ASSERT_TRUE(session);
    std::filesystem::create_directories(tree.path("run"));
    std::filesystem::permissions(tree.path("run"), std::filesystem::perms::owner_all);
  }

  void TearDown() override {
    if (::testing::Test::HasFailure())
      std::fprintf(stderr, "app log:\n%s\n", readTextFile(tree.path("app.log")).value_or("").c_str());
    if (!session) return;
    // Leave the shared server as it was found: one output, no EDIDs, full gamma.
    Display* display = session->display();
    const Atom edid = XInternAtom(display, "EDID", False);
    for (const auto& screen : screens) {
      XRRDeleteOutputProperty(display, screen.output, edid);
      if (screen.outputName != "DUMMY0") run("xrandr --output " + screen.outputName + " --off");
    }
    XSync(display, False);
    run("xrandr --output DUMMY0 --gamma 1:1:1");
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
    nlohmann::json selected = nlohmann::json::array();
    for (const auto& screen : screens) selected.push_back(screen.output);
    const nlohmann::json config = {
        {"steps", {{{"id", "EAD05D0D-830B-495E-B47F-F02CA8CF7D4A"}, {"idleSeconds", 0}, {"brightnessPercent", 100}},
                   {{"id", "718A23E6-BF5A-4B99-AEBB-204C8AD781E7"}, {"idleSeconds", 2}, {"brightnessPercent", 40}}}},
        {"fadeDurationSeconds", fadeSeconds},
        {"frameRate", 24},
        {"fadeCurve", "linear"},
        {"selectedDisplayIDs", selected}};
    tree.write("config/Dimmora/config.json", config.dump(2));
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

  std::string controlStatus(std::uint32_t output) {
    BusClient client(bus.address());
    sd_bus_message* displays = client.property(kDimmoraBusName, kDimmoraObjectPath, kDimmoraBusName, "Displays", "a(ussb)");
    std::string found;
    if (!displays) return found;
    if (sd_bus_message_enter_container(displays, 'a', "(ussb)") >= 0) {
      std::uint32_t id = 0;
      const char* name = nullptr;
      const char* status = nullptr;
      int selected = 0;
      while (sd_bus_message_read(displays, "(ussb)", &id, &name, &status, &selected) > 0)
        if (id == output) found = status;
    }
    sd_bus_message_unref(displays);
    return found;
  }
};
