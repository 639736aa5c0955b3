// SPDX-License-Identifier: GPL-3.0-or-later
// The real program on an emulated laptop: a DRM connector card0-eDP-1 with
// its EDID and an intel_backlight device under it (umockdev), the private X
// server's output carrying the same EDID, and logind absent or not
// answering. What is measured is what the kernel would have been handed.
#include <algorithm>
#include <cstdlib>

#include "AppTestSupport.hpp"
#include "BusClient.hpp"
#include "kernel/AttributeWrites.hpp"
#include "kernel/KernelTestbed.hpp"
// After the test framework, whose names Xlib's macros (None, Bool) would replace.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace {
const auto kPanelEdid = makeEdid("BOE", 0x0A1B, 0, "Panel");
constexpr const char* kName = "io.github.dimmora.Dimmora";
constexpr const char* kPath = "/io/github/dimmora/Dimmora";

// Sets (or, with no bytes, deletes) the EDID property of a RandR output.
void setOutputEdid(std::uint32_t outputID, const std::vector<std::uint8_t>& edid) {
  Display* display = XOpenDisplay(nullptr);
  ASSERT_TRUE(display);
  const Atom property = XInternAtom(display, "EDID", False);
  if (edid.empty())
    XRRDeleteOutputProperty(display, outputID, property);
  else
    XRRChangeOutputProperty(display, outputID, property, XA_INTEGER, 8, PropModeReplace, edid.data(),
                            static_cast<int>(edid.size()));
  XSync(display, False);
  XCloseDisplay(display);
}

struct Laptop {
  std::uint32_t maxBrightness = 96000;
  std::uint32_t brightness = 57600;  // 60 %
  bool writable = true;
  // The system bus: none at all, or one on which logind does not answer.
  bool busWithoutLogind = false;
};

// The private server's first output carries the panel's EDID and is dimmed
// in hardware: 40 % after 2 idle seconds, a two-second fade at 24 frames per second.
class EmulatedPanel : public DimmoraApp {
 protected:
  void SetUp() override {
    DimmoraApp::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    setOutputEdid(outputID, kPanelEdid);
    auto config = nlohmann::json::parse(readTextFile(tree.path("config/Dimmora/config.json")).value_or("{}"));
    config["fadeDurationSeconds"] = 2;
    config.erase("displayFullGammaModes");
    tree.write("config/Dimmora/config.json", config.dump(2));
  }
  void TearDown() override {
    if (outputID) setOutputEdid(outputID, {});
    DimmoraApp::TearDown();
  }

  // The laptop's kernel interface, and the program started on it.
  std::unique_ptr<App> start(const Laptop& laptop) {
    const auto connector = testbed.addConnector("eDP-1", kPanelEdid, std::nullopt);
    const auto device = testbed.addBacklight(connector, "intel_backlight", laptop.maxBrightness, laptop.brightness);
    brightnessFile = testbed.attributeFile(device, "brightness");
    writes = std::make_unique<AttributeWrites>(brightnessFile);
    std::vector<std::string> environment = testbed.environment();
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + sessionBus.address());
    if (laptop.busWithoutLogind) {
      systemBus = std::make_unique<PrivateSessionBus>();
      environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + systemBus->address());
    } else {
      environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + tree.path("no-system-bus").string());
    }
    ProgramCopy program;
    if (!laptop.writable) {
      // Root writes any file whatever its mode: the program runs without that power.
      std::filesystem::permissions(brightnessFile, std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::group_read |
                                                       std::filesystem::perms::others_read);
      const auto wrapper = tree.write("unprivileged", std::string("#!/bin/sh\nexec setpriv --bounding-set=") +
                                                          "-dac_override,-dac_read_search -- " + DIMMORA_EXECUTABLE +
                                                          "\n");
      std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
      program.program = wrapper.string();
    }
    startedAt = std::chrono::steady_clock::now();
    auto app = std::make_unique<App>(tree, environment, program);
    EXPECT_TRUE(waitFor([&] { return client.hasOwner(kName); }, 10s)) << "the program did not start";
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
  // Presses a key (xdotool) and waits for the panel's write of `value`; how
  // long after xdotool started that write came.
  std::optional<std::chrono::microseconds> keyBringsBack(long value) {
    const auto pressed = std::chrono::steady_clock::now();
    run("xdotool key shift");
    xdotoolTook = std::chrono::steady_clock::now() - pressed;
    if (!waitFor([&] { return !writes->valuesSince(pressed).empty() && writes->valuesSince(pressed).back() == value; },
                 3s))
      return std::nullopt;
    for (const auto& write : writes->writes())
      if (write.at >= pressed && std::stol(write.value) == value)
        return std::chrono::duration_cast<std::chrono::microseconds>(write.at - pressed);
    return std::nullopt;
  }
  std::string displayStatus() {
    sd_bus_message* displays = client.property(kName, kPath, kName, "Displays", "a(ussb)");
    if (!displays) return {};
    std::string found;
    std::uint32_t id = 0;
    const char* name = nullptr;
    const char* status = nullptr;
    int selected = 0;
    if (sd_bus_message_enter_container(displays, 'a', "(ussb)") >= 0 &&
        sd_bus_message_read(displays, "(ussb)", &id, &name, &status, &selected) > 0)
      found = status;
    sd_bus_message_unref(displays);
    return found;
  }
  std::string log() { return readTextFile(tree.path("app.log")).value_or(""); }

  KernelTestbed testbed;
  PrivateSessionBus sessionBus;
  BusClient client{sessionBus.address()};
  std::unique_ptr<PrivateSessionBus> systemBus;
  std::filesystem::path brightnessFile;
  std::unique_ptr<AttributeWrites> writes;
  std::chrono::steady_clock::time_point startedAt;
  std::chrono::steady_clock::duration xdotoolTook{};
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
  std::printf("launch at 60 %%: %zu values written over the fade, highest %ld, last %ld\n", dim.size(),
              *std::max_element(dim.begin(), dim.end()), dim.back());
  const auto back = keyBringsBack(57600);
  ASSERT_TRUE(back) << "the key did not bring back 60 %";
  std::printf("key -> 60 %% written %.1f ms after xdotool started (xdotool ran %.1f ms)\n", back->count() / 1000.0,
              std::chrono::duration<double, std::milli>(xdotoolTook).count());
  EXPECT_EQ(xrandrBrightness(), 1.0);

  // The desktop's brightness keys set 50 % while the user is active.
  std::ofstream(brightnessFile) << "48000\n";
  std::this_thread::sleep_for(100ms);  // past the record of that write
  const auto keysAt = std::chrono::steady_clock::now();
  ASSERT_EQ(settledValue(keysAt, 15s), 22080);  // 40 % of 5...50: 23 %
  const auto second = writes->valuesSince(keysAt);
  EXPECT_LE(*std::max_element(second.begin(), second.end()), 48000);
  std::printf("keys to 50 %%: highest %ld, last %ld\n", *std::max_element(second.begin(), second.end()), second.back());
  const auto again = keyBringsBack(48000);
  ASSERT_TRUE(again) << "the key did not bring back 50 %";
  std::printf("key -> 50 %% written %.1f ms after xdotool started (xdotool ran %.1f ms)\n", again->count() / 1000.0,
              std::chrono::duration<double, std::milli>(xdotoolTook).count());
  EXPECT_EQ(app->stop(SIGTERM), 0);
  EXPECT_EQ(panelValue(), 48000);
}

TEST_F(EmulatedPanel, AFadeIsWrittenAtTheBacklightsOwnResolution) {
  auto app = start({.maxBrightness = 19393, .brightness = 19393});
  ASSERT_EQ(settledValue(startedAt, 15s), 8339);  // 40 % of 5...100: 43 % of 19393
  const auto fade = writes->valuesSince(startedAt);
  std::printf("2 s fade at 24 fps on 19393 levels: %zu values written\n", fade.size());
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
  auto config = nlohmann::json::parse(readTextFile(tree.path("config/Dimmora/config.json")).value_or("{}"));
  config["steps"][1]["idleSeconds"] = 3;  // after the desktop's 2 s, and not again before the checks end
  tree.write("config/Dimmora/config.json", config.dump(2));
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
  int oursWhileAway = 0;
  std::vector<long> ours;  // since the key, without the desktop's write
  bool desktopsRestoreSeen = false;
  long lastWriteAfterOneAndAHalf = -1;
  for (const auto& write : writes->writes()) {
    if (write.value.empty()) continue;  // read while another writer had it truncated
    const long value = std::stol(write.value);
    if (write.at < pressed) {
      lowest = std::min(lowest, value);
      if (write.at >= desktopDimmedAt) highestAfterDesktop = std::max(highestAfterDesktop, value);
      oursWhileAway += write.at < desktopDimmedAt || value != kDesktopsLevel;
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
  std::printf("%s: away %d writes of ours, lowest %ld, highest after the desktop's 30 %% %ld; "
              "after the key %zu writes of ours (%s), panel %ld at 1.5 s\n",
              c.name, oursWhileAway, lowest, highestAfterDesktop, ours.size(),
              [&] {
                std::string text;
                for (long value : ours) text += (text.empty() ? "" : ", ") + std::to_string(value);
                return text;
              }().c_str(),
              atOneAndAHalf);
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
  const auto dimmed = xrandrBrightness().value_or(1);
  std::printf("X brightness during the dim: %.3f\n", dimmed);
  EXPECT_NEAR(dimmed, 27.0 / 60, 0.01);  // 27 % shown on a panel that stays at 60 %
  EXPECT_EQ(panelValue(), 57600);
  EXPECT_TRUE(writes->writes().empty());

  EXPECT_EQ(displayStatus(), "control_backlight_permission");
  const auto text = log();
  const auto line = text.find("Cannot set the brightness of intel_backlight");
  ASSERT_NE(line, std::string::npos) << text;
  std::printf("log: %s\n", text.substr(line, text.find('\n', line) - line).c_str());
  EXPECT_EQ(text.find("Cannot set the brightness", line + 1), std::string::npos) << "said more than once";
  EXPECT_EQ(text.find("i2c group"), std::string::npos);
  if (GetParam()) {
    EXPECT_NE(text.find("org.freedesktop.login1", line), std::string::npos);
  }

  // The table's top entry, read straight from the server every millisecond.
  auto session = X11Session::open();
  ASSERT_TRUE(session);
  RandrScreen randr(*session);
  const auto top = [&] {
    const auto ramps = randr.gamma(outputID);
    return ramps && !ramps->red.empty() ? ramps->red.back() / 65535.0 : 0.0;
  };
  const auto pressed = std::chrono::steady_clock::now();
  run("xdotool key shift");
  const auto returned = std::chrono::steady_clock::now();
  while (top() < 0.999 && std::chrono::steady_clock::now() - pressed < 3s) std::this_thread::sleep_for(1ms);
  const auto restored = std::chrono::steady_clock::now();
  EXPECT_EQ(xrandrBrightness(), 1.0);
  std::printf("key -> X brightness 1.0 seen %.1f ms after xdotool started (xdotool ran %.1f ms)\n",
              std::chrono::duration<double, std::milli>(restored - pressed).count(),
              std::chrono::duration<double, std::milli>(returned - pressed).count());
  EXPECT_EQ(app->stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(WithoutLogind, UnwritablePanel, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "LogindNotAnswering" : "NoSystemBus"; });

}  // namespace
