// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <poll.h>

#include "../kernel/MonitorEdid.hpp"
#include "platform/linux/DisplayDirectory.hpp"
#include "platform/linux/I2CDevice.hpp"
#include "platform/sim/TemporaryFolder.hpp"
#include "platform/sim/VirtualMainLoop.hpp"

// A virtual loop kept in step with the real clock: each sync() advances it by
// the time that passed, running what fell due. Pump with sync() in the condition.
struct RealTimeLoop {
  VirtualMainLoop loop;
  std::chrono::steady_clock::time_point synced = std::chrono::steady_clock::now();
  void sync() {
    const auto now = std::chrono::steady_clock::now();
    loop.advance(std::chrono::duration<double>(now - synced).count());
    synced = now;
  }
};

// Hands every submitted transfer's result over, waiting for the bus threads
// as the main loop does when woken.
inline void deliverI2CResults(I2CDevice& i2c) {
  for (int i = 0; i < 100 && i2c.hasTransfersUnderWay(); ++i) {
    pollfd readable{i2c.resultDescriptor(), POLLIN, 0};
    ::poll(&readable, 1, 50);
    i2c.deliverResults();
  }
}

// One transfer, waited for.
inline I2CResult transferNow(I2CDevice& i2c, I2CMessage message) {
  I2CResult result{I2CStatus::ioError, {}, "not delivered"};
  const auto work = i2c.submit(std::move(message), [&](I2CResult r) { result = std::move(r); });
  deliverI2CResults(i2c);
  return result;
}

// The status for an errno, explained in the log as the main thread does.
inline I2CStatus explainedStatus(int error, const std::filesystem::path& device) {
  const I2CStatus status = i2cStatusOf(error, device);
  explainI2CStatus(status, device);
  return status;
}

// A private folder tree (fake /sys, /dev, home) removed at the end of the test.
class TempTree {
 public:
  const std::filesystem::path& root() const { return folder_.path(); }
  std::filesystem::path path(const std::string& relative) const { return root() / relative; }
  std::filesystem::path write(const std::string& relative, const std::string& text) const {
    const auto p = path(relative);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  std::filesystem::path write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
    return write(relative, std::string(bytes.begin(), bytes.end()));
  }
  std::filesystem::path folder(const std::string& relative) const {
    const auto p = path(relative);
    std::filesystem::create_directories(p);
    return p;
  }
  void link(const std::string& target, const std::string& relative) const {
    std::filesystem::create_directories(path(relative).parent_path());
    std::filesystem::create_directory_symlink(target, path(relative));
  }

 private:
  TemporaryFolder folder_{"dimmora-test"};
};

// A fake /sys and /dev with the session's outputs beside them: DRM connectors,
// backlight devices, and what each bus answers at 0x50, which the test edits.
struct FakeSysfs {
  TempTree tree;
  std::vector<SessionOutput> outputs;
  std::map<int, std::vector<std::uint8_t>> busEdids;
  std::vector<int> probed;  // the buses read for an EDID, in order

  FakeSysfs() { tree.folder("dev"); }
  FakeSysfs(const FakeSysfs&) = delete;
  // Card 0's connector; unplugged, a connector says "disconnected".
  void connector(const std::string& name, const std::vector<std::uint8_t>& edid = {}, bool connected = true) const {
    tree.write("sys/class/drm/card0-" + name + "/status", connected ? "connected\n" : "disconnected\n");
    tree.write("sys/class/drm/card0-" + name + "/edid", edid);
  }
  // A backlight device's files in `folder` (a class entry, or a connector's own).
  void backlight(const std::string& folder, const std::string& type, int value, int max) const {
    tree.write(folder + "/type", type + "\n");
    tree.write(folder + "/brightness", std::to_string(value) + "\n");
    tree.write(folder + "/actual_brightness", std::to_string(value) + "\n");
    tree.write(folder + "/max_brightness", std::to_string(max) + "\n");
  }
  DrmConnectors scanner() {
    return DrmConnectors(tree.path("sys"), tree.path("dev"), [this](int bus) -> std::optional<std::vector<std::uint8_t>> {
      probed.push_back(bus);
      const auto found = busEdids.find(bus);
      if (found == busEdids.end()) return std::nullopt;
      return found->second;
    });
  }
  DisplayDirectory directory() { return DisplayDirectory([this] { return outputs; }, scanner(), Backlight(tree.path("sys"))); }
};

#include "platform/sim/RecordingLogSink.hpp"

// True when some logged line contains `text`.
inline bool logMentions(const RecordingLogSink& sink, const std::string& text) {
  for (const auto& e : sink.entries)
    if (e.message.find(text) != std::string::npos) return true;
  return false;
}

// CI always has the server (scripts/test starts it); only a local run without one may skip.
#define REQUIRE_X_SERVER()                                               \
  do {                                                                   \
    if (!std::getenv("DISPLAY")) {                                       \
      if (std::getenv("CI")) FAIL() << "DISPLAY is not set in CI";       \
      GTEST_SKIP() << "no X server (scripts/test starts a private one)"; \
    }                                                                    \
  } while (0)

// Runs a shell command and returns what it printed.
inline std::string run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
    pclose(pipe);
  }
  return output;
}
