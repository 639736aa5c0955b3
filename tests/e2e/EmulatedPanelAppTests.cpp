// SPDX-License-Identifier: GPL-3.0-or-later
// The real program on an emulated laptop: a DRM connector card0-eDP-1 with
// its EDID and an intel_backlight device under it (umockdev), the private X
// server's output carrying the same EDID, and logind absent or not
// answering. What is measured is what the kernel would have been handed.
#include "EmulatedMonitorTestSupport.hpp"
#include "kernel/AttributeWrites.hpp"

namespace {
const auto kPanelEdid = makeEdid("BOE", 0x0A1B, 0, "Panel");

struct Laptop {
  std::uint32_t maxBrightness = 96000;
  std::uint32_t brightness = 57600;  // 60 %
  bool writable = true;
  // The system bus: none at all, or one on which logind does not answer.
  bool busWithoutLogind = false;
};

// The private server's first output carries the panel's EDID and is dimmed
// in hardware: 40 % after 2 idle seconds, a two-second fade at 24 frames per second.
class EmulatedPanel : public EmulatedMonitorApp {
 protected:
  void SetUp() override {
    EmulatedMonitorApp::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    setOutputEdid(session->display(), outputID, kPanelEdid);
    screens.push_back({outputID, "DUMMY0", -1, nullptr});  // its EDID goes at the end
    reconfigure([](nlohmann::json& config) {
      config["fadeDurationSeconds"] = 2;
      config.erase("displayFullGammaModes");
    });
  }

  // The laptop's kernel interface, and the program started on it.
  std::unique_ptr<App> start(const Laptop& laptop) {
    const auto connector = testbed.addConnector("eDP-1", kPanelEdid, std::nullopt);
    const auto device = testbed.addBacklight(connector, "intel_backlight", laptop.maxBrightness, laptop.brightness);
    brightnessFile = testbed.attributeFile(device, "brightness");
    writes = std::make_unique<AttributeWrites>(brightnessFile);
    if (laptop.busWithoutLogind) systemBus = std::make_unique<PrivateSessionBus>();
    const std::string systemBusAddress =
        systemBus ? systemBus->address() : "unix:path=" + tree.path("no-system-bus").string();
    std::string program = DIMMORA_EXECUTABLE;
    if (!laptop.writable) {
      // Root writes any file whatever its mode: the program runs without that power.
      std::filesystem::permissions(brightnessFile, std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::group_read |
                                                       std::filesystem::perms::others_read);
      const auto wrapper = tree.write("unprivileged", std::string("#!/bin/sh\nexec setpriv --bounding-set=") +
                                                          "-dac_override,-dac_read_search -- " + DIMMORA_EXECUTABLE +
                                                          "\n");
      std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
      program = wrapper.string();
    }
    startedAt = std::chrono::steady_clock::now();
    auto app = EmulatedMonitorApp::start({"DBUS_SYSTEM_BUS_ADDRESS=" + systemBusAddress}, program);
    EXPECT_TRUE(waitFor([&] { return client.hasOwner(kDimmoraBusName); }, 10s)) << "the program did not start";
    return app;
  }

  long panelValue() const { return std::stol(readTextFile(brightnessFile).value_or("-1")); }
  // Waits until what was written since `since` has held one value for half a second; that value.
  std::optional<long> settledValue(std::chrono::steady_clock::time_point since, std::chrono::milliseconds limit) {
    std::optional<long> settled;
    waitFor([&] {
      const auto all = writes->writes();
      if (all.empty() || all.back().at < since || std::chrono::steady_clock::now() - all.back().at < 500ms)
        return false;
      settled = std::stol(all.back().value);
      return true;
    }, limit);
    return settled;
  }
  // Presses a key (xdotool) and waits for the panel's write of `value`.
  bool keyBringsBack(long value) {
    const auto pressed = std::chrono::steady_clock::now();
    run("xdotool key shift");
    return waitFor([&] {
      const auto since = writes->valuesSince(pressed);
      return !since.empty() && since.back() == value;
    }, 3s);
  }

  std::unique_ptr<PrivateSessionBus> systemBus;
  std::filesystem::path brightnessFile;
  std::unique_ptr<AttributeWrites> writes;
  std::chrono::steady_clock::time_point startedAt;
};

TEST_F(EmulatedPanel, ADimNeverBrightensThePanelAndTheKeyPutsBackWhatTheUserHad) {
  auto app = start({});
  // 40 % of 5...60: 27 % of 96000.
  ASSERT_EQ(settledValue(startedAt, 15s), 25920);
  const auto dim = writes->valuesSince(startedAt);
  EXPECT_LE(*std::max_element(dim.begin(), dim.end()), 57600) << "the dim made the panel brighter";
  // Whole percents from 60 down to 27 would be 33 values at most; a loaded
  // machine drops a few of the 48 frames.
  EXPECT_GE(dim.size(), 34u) << "a fade is written frame by frame";
  ASSERT_TRUE(keyBringsBack(57600)) << "the key did not bring back 60 %";
  EXPECT_EQ(xrandrBrightness(), 1.0);

  // The desktop's brightness keys set 50 % while the user is active.
  std::ofstream(brightnessFile) << "48000\n";
  std::this_thread::sleep_for(100ms);  // past the record of that write
  const auto keysAt = std::chrono::steady_clock::now();
  ASSERT_EQ(settledValue(keysAt, 15s), 22080);  // 40 % of 5...50: 23 %
  const auto second = writes->valuesSince(keysAt);
  EXPECT_LE(*std::max_element(second.begin(), second.end()), 48000);
  ASSERT_TRUE(keyBringsBack(48000)) << "the key did not bring back 50 %";
  EXPECT_EQ(app->stop(SIGTERM), 0);
  EXPECT_EQ(panelValue(), 48000);
}

TEST_F(EmulatedPanel, AFadeIsWrittenAtTheBacklightsOwnResolution) {
  auto app = start({.maxBrightness = 19393, .brightness = 19393});
  ASSERT_EQ(settledValue(startedAt, 15s), 8339);  // 40 % of 5...100: 43 % of 19393
  const auto fade = writes->valuesSince(startedAt);
  EXPECT_GE(fade.size(), 34u);  // more than whole percents could give, fewer than the 48 frames on a loaded machine
  EXPECT_LE(fade.size(), 49u);
  EXPECT_TRUE(std::adjacent_find(fade.begin(), fade.end()) == fade.end()) << "a value was written twice in a row";
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

// Beside the desktop's own idle dimming, as a stand-in does it: at its idle
// time it saves the panel's level and writes 30 %, and 80 ms after the user's
// key it writes the saved level back. It dims first (at 2 s, before our step
// at 3 s) or late (once our dim has landed).
struct DesktopDimmerCase {
  const char* name;
  std::uint32_t usersLevel;  // of 96000
  bool desktopFirst;
  long ourStep;  // 40 % of 5...100 or of 5...60
};

class BesideTheDesktopsDimmer : public EmulatedPanel, public ::testing::WithParamInterface<DesktopDimmerCase> {};

TEST_P(BesideTheDesktopsDimmer, NothingIsDimmedTwiceAndTheUsersLevelComesBackAndStays) {
  const auto& c = GetParam();
  constexpr long kDesktopsLevel = 28800;
  // After the desktop's 2 s, and not again before the checks end.
  reconfigure([](nlohmann::json& config) { config["steps"][1]["idleSeconds"] = 3; });
  auto app = start({.brightness = c.usersLevel});
  const auto up = std::chrono::steady_clock::now();
  long saved = 0;
  std::chrono::steady_clock::time_point desktopDimmedAt;
  const auto desktopDims = [&] {
    saved = panelValue();
    desktopDimmedAt = std::chrono::steady_clock::now();
    std::ofstream(brightnessFile) << kDesktopsLevel << "\n";
  };
  if (c.desktopFirst) {
    std::this_thread::sleep_until(up + 2s);
    desktopDims();
    std::this_thread::sleep_until(up + 7s);  // our step at 3 s and its 2 s fade are over
  } else {
    ASSERT_EQ(settledValue(startedAt, 15s), c.ourStep);
    desktopDims();
    std::this_thread::sleep_for(1s);
  }
  EXPECT_EQ(saved, c.desktopFirst ? c.usersLevel : c.ourStep);

  const auto pressed = std::chrono::steady_clock::now();
  run("xdotool key shift");
  std::this_thread::sleep_for(80ms);
  const auto desktopRestoredAt = std::chrono::steady_clock::now();
  std::ofstream(brightnessFile) << saved << "\n";
  std::this_thread::sleep_until(pressed + 1500ms);
  const long atOneAndAHalf = panelValue();
  std::this_thread::sleep_until(pressed + 2500ms);  // past the return's watch

  long lowest = c.usersLevel, highestAfterDesktop = 0;
  std::vector<long> ours;  // since the key, without the desktop's write
  bool desktopsRestoreSeen = false;
  long lastWriteAfterOneAndAHalf = -1;
  for (const auto& write : writes->writes()) {
    if (write.value.empty()) continue;  // read while another writer had it truncated
    const long value = std::stol(write.value);
    if (write.at < pressed) {
      lowest = std::min(lowest, value);
      if (write.at >= desktopDimmedAt) highestAfterDesktop = std::max(highestAfterDesktop, value);
      continue;
    }
    if (write.at > pressed + 1500ms) lastWriteAfterOneAndAHalf = value;
    if (!desktopsRestoreSeen && write.at >= desktopRestoredAt && value == saved)
      desktopsRestoreSeen = true;
    else
      ours.push_back(value);
  }
  EXPECT_LE(highestAfterDesktop, kDesktopsLevel) << "brightened while the user was away";
  EXPECT_GE(lowest, std::min(c.ourStep, kDesktopsLevel)) << "dimmed twice";
  ASSERT_FALSE(ours.empty()) << "the key wrote nothing";
  EXPECT_EQ(ours.front(), c.usersLevel) << "the key did not bring the user's level back";
  EXPECT_EQ(atOneAndAHalf, c.usersLevel) << "the desktop's late restore was left standing";
  EXPECT_EQ(lastWriteAfterOneAndAHalf, -1) << "written after 1.5 s";
  const bool corrected = log().find("a level it was dimmed to") != std::string::npos;
  EXPECT_EQ(corrected, !c.desktopFirst) << log();
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(Orders, BesideTheDesktopsDimmer,
                         ::testing::Values(DesktopDimmerCase{"DesktopFirstAt100", 96000, true, 41280},
                                           DesktopDimmerCase{"DesktopFirstAt60", 57600, true, 25920},
                                           DesktopDimmerCase{"DesktopLateAt100", 96000, false, 41280},
                                           DesktopDimmerCase{"DesktopLateAt60", 57600, false, 25920}),
                         [](const auto& info) { return std::string(info.param.name); });

class UnwritablePanel : public EmulatedPanel, public ::testing::WithParamInterface<bool> {};

TEST_P(UnwritablePanel, IsDimmedThroughGammaAndTheStatusSaysHowToAllowIt) {
  auto app = start({.writable = false, .busWithoutLogind = GetParam()});
  // The status and the log are checked even when the dim does not come.
  EXPECT_TRUE(waitFor([&] { return xrandrBrightness().value_or(1) < 0.5; }, 15s)) << "not dimmed";
  std::this_thread::sleep_for(1s);
  EXPECT_NEAR(xrandrBrightness().value_or(1), 27.0 / 60, 0.01);  // 27 % shown on a panel that stays at 60 %
  EXPECT_EQ(panelValue(), 57600);
  EXPECT_TRUE(writes->writes().empty());

  EXPECT_EQ(client.displayStatus(outputID), "control_backlight_permission");
  const auto text = log();
  const auto line = text.find("Cannot set the brightness of intel_backlight");
  ASSERT_NE(line, std::string::npos) << text;
  EXPECT_TRUE(saidOnce("Cannot set the brightness")) << text;
  EXPECT_EQ(text.find("i2c group"), std::string::npos);
  if (GetParam()) {
    EXPECT_NE(text.find("org.freedesktop.login1", line), std::string::npos);
  }

  keyRestoresTheGammaTable(outputID);
  EXPECT_EQ(xrandrBrightness(), 1.0);
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(WithoutLogind, UnwritablePanel, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "LogindNotAnswering" : "NoSystemBus"; });

}  // namespace
