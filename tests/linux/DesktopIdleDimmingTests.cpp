// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's own dimming when idle, through the window's rules and the
// real bindings: GNOME's power plugin schema on a private GSettings keyfile,
// Plasma 5's and 6's PowerDevil files in a private configuration home, with
// PowerDevil's reload calls answered by a stand-in on a private session bus.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>

#include "SessionBusTestSupport.hpp"
#include "menu/MenuTestSupport.hpp"
#include "platform/linux/DesktopIdleDimmingChoice.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
#include "platform/linux/PlasmaIdleDimming.hpp"

namespace fs = std::filesystem;

namespace {
// "group/key" -> value: what a KDE file says, whatever the order of its lines.
std::map<std::string, std::string> entries(const std::string& text) {
  std::map<std::string, std::string> found;
  std::istringstream lines(text);
  std::string group;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with('[')) group = line.substr(1, line.size() - 2);
    else if (const auto equals = line.find('='); equals != std::string::npos)
      found[group + "/" + line.substr(0, equals)] = line.substr(equals + 1);
  }
  return found;
}

std::string contentOf(const fs::path& file) { return readTextFile(file).value_or(""); }

struct Case {
  const char* name;
  const char* desktop;         // XDG_CURRENT_DESKTOP
  const char* sessionVersion;  // KDE_SESSION_VERSION
  const char* file;            // PowerDevil's file; "" for GNOME
  const char* initial;         // the file as Plasma left it
  const char* turnedOff;       // the file after the window's action
  const char* notice;
  bool byUninstall;            // put back by "prepare for uninstall", else by reset
};

const Case kCases[] = {
    {"Gnome", "ubuntu:GNOME", "", "", "", "", "GNOME also dims the screen when idle", false},
    {"Plasma5", "KDE", "5", "powermanagementprofilesrc",
     "[AC]\nicon=battery-charging\n\n[AC][DimDisplay]\nidleTime=300000\n\n[AC][DPMSControl]\nidle=600\n\n"
     "[Battery][DimDisplay]\nidleTime=120000\n\n[LowBattery][SuspendSession]\nidleTime=300000\n",
     "[AC]\nicon=battery-charging\n\n[AC][DPMSControl]\nidle=600\n\n[LowBattery][SuspendSession]\nidleTime=300000\n",
     "KDE Plasma also dims the screen when idle", false},
    {"Plasma6", "KDE", "", "powerdevilrc",
     "[AC][Display]\nDimDisplayIdleTimeoutSec=300\n\n[Battery][Display]\nDimDisplayWhenIdle=true\n"
     "DimDisplayIdleTimeoutSec=120\n",
     "[AC][Display]\nDimDisplayIdleTimeoutSec=300\nDimDisplayWhenIdle=false\n\n[Battery][Display]\n"
     "DimDisplayWhenIdle=false\nDimDisplayIdleTimeoutSec=120\n\n[LowBattery][Display]\nDimDisplayWhenIdle=false\n",
     "KDE Plasma also dims the screen when idle", true},
};

class DesktopIdleDimmingTest : public MenuTest, public ::testing::WithParamInterface<Case> {
 protected:
  // Lets GLib's main context, the bus and posted work run until `done`, for at most `seconds`.
  bool pump(const std::function<bool()>& done, double seconds = 5) {
    return pumpBuses({client.get(), session.sessionBus()}, done, seconds, [this] {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      session.process();
      loop.runPending();
    });
  }
  std::string gnomeIdleDim() { return run("gsettings get org.gnome.settings-daemon.plugins.power idle-dim"); }

  PrivateSessionBus bus;
  BusConnection client{bus.address()};
  DBusSession session{bus.address(), bus.address()};
  TemporaryFolder folder{"dimmora-powerdevil"};
  const fs::path calls = folder.path() / "calls";
  std::unique_ptr<ChildProcess> powerDevil;
};

TEST_P(DesktopIdleDimmingTest, TheNoticeHandsTheDimmingOverAndResetOrUninstallPutsItBack) {
  const Case& c = GetParam();
  ASSERT_TRUE(bus.isRunning());
  // The process's own GSettings read these; a test program runs each test in a process of its own.
  setenv("GSETTINGS_BACKEND", "keyfile", 1);
  setenv("XDG_CONFIG_HOME", configRoot.c_str(), 1);
  fs::create_directories(configRoot);
  std::map<std::string, std::string> variables{{"XDG_CURRENT_DESKTOP", c.desktop}, {"XDG_CONFIG_HOME", configRoot.string()}};
  if (*c.sessionVersion) variables["KDE_SESSION_VERSION"] = c.sessionVersion;
  const bool gnome = !*c.file;
  const fs::path file = configRoot / c.file;
  if (!gnome) {
    writeFile(file, c.initial);
    powerDevil = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", DIMMORA_TESTS_DIR "/linux/fake_powerdevil.py", calls.string()},
        std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    ASSERT_TRUE(pump([&] { return DBusSession::nameHasOwner(client.get(), PlasmaIdleDimming::kService); }, 10))
        << "the PowerDevil stand-in did not start";
  }
  auto binding = desktopIdleDimming(LinuxEnvironment({variables, std::nullopt, "/usr/bin/dimmora", "/", std::nullopt}),
                                    session.sessionBus());
  ASSERT_TRUE(binding) << "no idle dimming found for " << c.desktop;
  desktopDimming = binding.get();
  makeMenu();
  DesktopDimmingHandover& handover = menu->desktopDimming();
  EXPECT_EQ(handover.noticeText(), c.notice);
  EXPECT_FALSE(handover.turnedOffText());

  handover.turnOff();
  EXPECT_FALSE(handover.error()) << *handover.error();
  EXPECT_FALSE(handover.noticeText());
  ASSERT_TRUE(handover.turnedOffText());
  EXPECT_NE(handover.turnedOffText()->find("turn it back on"), std::string::npos);
  if (gnome) {
    EXPECT_EQ(gnomeIdleDim(), "false\n");
  } else {
    EXPECT_EQ(entries(contentOf(file)), entries(c.turnedOff));
    EXPECT_TRUE(pump([&] { return contentOf(calls) == "reparseConfiguration\nrefreshStatus\n"; }))
        << "PowerDevil was asked: " << contentOf(calls);
  }

  if (c.byUninstall) {
    menu->maintenance().prepareForUninstall(true);
    EXPECT_FALSE(menu->maintenance().card()) << menu->maintenance().card()->message;
    EXPECT_FALSE(fs::exists(configFolder()));
  } else {
    menu->maintenance().resetSettings();
  }
  EXPECT_EQ(handover.noticeText(), c.notice);
  EXPECT_FALSE(handover.turnedOffText());
  EXPECT_FALSE(defaults.stringValue(DesktopDimmingHandover::recordKey));
  if (gnome) EXPECT_EQ(gnomeIdleDim(), "true\n");
  else EXPECT_EQ(entries(contentOf(file)), entries(c.initial));

  // Turned off elsewhere (the desktop's own settings): the window follows, and it is not Dimmora's doing.
  bool told = false;
  const Subscription window = menu->changed.connect([&] { told = true; });
  const auto start = std::chrono::steady_clock::now();
  if (gnome) run("gsettings set org.gnome.settings-daemon.plugins.power idle-dim false");
  else {
    writeFile(file.string() + ".new", c.turnedOff);  // as KDE writes its files: a new one renamed over the old
    fs::rename(file.string() + ".new", file);
  }
  EXPECT_TRUE(pump([&] { return told && !handover.noticeText(); }, 1.0)) << "the window was not told within a second";
  std::cout << c.name << ": the change made elsewhere was seen after "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s\n";
  EXPECT_FALSE(handover.turnedOffText());
  menu->maintenance().resetSettings();
  if (gnome) EXPECT_EQ(gnomeIdleDim(), "false\n");
  else EXPECT_EQ(entries(contentOf(file)), entries(c.turnedOff));
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopIdleDimmingTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// What Dimmora turned off is put back after a restart; what the user turned on again is theirs; a
// failure to put it back stops the uninstall before anything is removed, and is tried again later.
TEST_F(MenuTest, DesktopDimmingRecordOutlivesTheProgramAndYieldsToTheUser) {
  const fs::path file = configRoot / "powerdevilrc";
  writeFile(file, "[AC][Display]\nDimDisplayWhenIdle=true\n");
  PlasmaIdleDimming plasma(configRoot, PlasmaIdleDimming::Version::plasma6, nullptr);
  desktopDimming = &plasma;
  makeMenu();
  menu->desktopDimming().turnOff();
  ASSERT_FALSE(plasma.isOn());

  makeMenu();  // the next start
  EXPECT_TRUE(menu->desktopDimming().turnedOffText());
  fs::remove(file);
  fs::create_directory(file);
  menu->maintenance().prepareForUninstall(true);
  ASSERT_TRUE(menu->maintenance().card());
  EXPECT_EQ(menu->maintenance().card()->kind, ConfirmationCard::Kind::uninstallError);
  EXPECT_NE(menu->maintenance().card()->message.find(file.string()), std::string::npos);
  EXPECT_TRUE(fs::exists(configFolder()));
  EXPECT_TRUE(defaults.stringValue(DesktopDimmingHandover::recordKey));

  // The user turns it on again on AC; the other profiles stay as they are.
  fs::remove(file);
  writeFile(file, "[AC][Display]\nDimDisplayWhenIdle=true\n\n[Battery][Display]\nDimDisplayWhenIdle=false\n");
  plasma.reread();
  menu->maintenance().resetSettings();
  EXPECT_EQ(contentOf(file), "[AC][Display]\nDimDisplayWhenIdle=true\n\n[Battery][Display]\nDimDisplayWhenIdle=false\n");
  EXPECT_FALSE(defaults.stringValue(DesktopDimmingHandover::recordKey));
  EXPECT_FALSE(menu->desktopDimming().turnedOffText());
}
}  // namespace
