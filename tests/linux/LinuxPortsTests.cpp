// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <fstream>
#include <functional>
#include <thread>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <nlohmann/json.hpp>

#include "SessionBusTestSupport.hpp"
#include "platform/x11/GammaStash.hpp"
#include "platform/x11/X11GammaTables.hpp"
#include "platform/x11/X11Input.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
#include "platform/linux/XdgAutostart.hpp"
#include "platform/qt/QtDesktop.hpp"
#include "platform/qt/QtInputMonitors.hpp"
#include "platform/qt/QtMainLoop.hpp"
#include "platform/qt/QtUserDefaults.hpp"
#include "services/LoginLaunchController.hpp"

namespace {
// RandR is the X server's; over a fake tree the outputs come from here.
struct FakeDesktop : FakeSysfs {
  std::vector<std::uint8_t> dell = makeEdid("DEL", 0x4321, 99, "DELL P2419H");

  FakeDesktop() {
    connector("DP-1", dell);
    tree.folder("sys/class/drm/card0-DP-1/i2c-6");
    connector("eDP-1");
    backlight("sys/class/drm/card0-eDP-1/intel_backlight", "raw", 300, 1200);
    connector("HDMI-A-1");  // no bus anywhere
  }
  // The binding over the tree, with the panel alone unless told; `bus` is where logind would be asked.
  LinuxDisplayPorts ports(std::vector<SessionOutput> shown = {{0x52, "eDP-1", true, {}}}, DBusSession* bus = nullptr) {
    outputs = std::move(shown);
    return LinuxDisplayPorts(directory(), bus);
  }
};
}  // namespace

TEST(LinuxDisplayPorts, EachDisplayComesWithItsConnectorEdidBusAndBacklight) {
  FakeDesktop desktop;
  auto ports = desktop.ports({{0x50, "HDMI-1", true, {}}, {0x51, "DP-1", true, desktop.dell},
                              {0x52, "eDP-1", true, {}}});
  EXPECT_EQ(ports.connectedDisplays(),
            (std::vector<DisplayFacts>{
                {.id = 0x50, .connector = "HDMI-A-1", .outputName = "HDMI-1"},
                {.id = 0x51, .connector = "DP-1", .outputName = "DP-1", .edid = desktop.dell, .i2cBus = 6},
                {.id = 0x52, .connector = "eDP-1", .outputName = "eDP-1", .builtIn = true, .backlight = "intel_backlight"}}));

  // A transfer on the monitor's bus: there is no /dev/i2c-* here.
  I2CDevice i2c(desktop.tree.path("dev"));
  const auto result = transferNow(i2c, {.bus = 6, .address = 0x37, .write = {0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}});
  EXPECT_EQ(result.status, I2CStatus::noModule);
  EXPECT_EQ(result.error, desktop.tree.path("dev/i2c-6").string() + ": No such file or directory");
}

TEST(LinuxDisplayPorts, PanelReadsSysfsAndFallsBackToDirectWrites) {
  FakeDesktop desktop;
  auto ports = desktop.ports();
  ASSERT_TRUE(ports.connectedDisplays());
  EXPECT_EQ(ports.level("intel_backlight"), 0.25);
  EXPECT_EQ(ports.steps("intel_backlight"), 1200u);
  EXPECT_EQ(ports.setLevel("intel_backlight", 0.5), BacklightStatus::ok);  // no D-Bus: the file directly
  EXPECT_EQ(readTextFile(desktop.tree.path("sys/class/drm/card0-eDP-1/intel_backlight/brightness")), "600\n");

  // The device vanishes (driver unloaded): reads and writes fail, nothing crashes.
  std::filesystem::remove_all(desktop.tree.path("sys/class/drm/card0-eDP-1/intel_backlight"));
  EXPECT_FALSE(ports.level("intel_backlight"));
  EXPECT_EQ(ports.steps("intel_backlight"), 0u);
  EXPECT_EQ(ports.setLevel("intel_backlight", 0.5), BacklightStatus::noDevice);
  EXPECT_EQ(ports.setLevel("nonesuch", 0.5), BacklightStatus::noDevice);
}

TEST(LinuxDisplayPorts, ABusWithoutLogindFallsBackToTheWritableDeviceFileAndSaysSoOnce) {
  PrivateSessionBus busWithoutLogind;
  ASSERT_TRUE(busWithoutLogind.isRunning());
  DBusSession bus(busWithoutLogind.address(), busWithoutLogind.address());
  ASSERT_TRUE(bus.hasSystemBus());
  FakeDesktop desktop;
  desktop.tree.write("sys/class/drm/card0-eDP-1/intel_backlight/max_brightness", "7\n");  // a 7-step panel
  auto ports = desktop.ports({{0x52, "eDP-1", true, {}}}, &bus);  // the bus is there; logind is not
  ASSERT_TRUE(ports.connectedDisplays());
  ScopedLogRecorder log;
  const auto file = desktop.tree.path("sys/class/drm/card0-eDP-1/intel_backlight/brightness");
  EXPECT_EQ(ports.setLevel("intel_backlight", 0.05f), BacklightStatus::ok);
  EXPECT_EQ(readTextFile(file), "1\n");  // 0.35 of a step: still lit
  EXPECT_EQ(ports.setLevel("intel_backlight", 1.0f), BacklightStatus::ok);
  EXPECT_EQ(readTextFile(file), "7\n");
  EXPECT_EQ(log->entries.size(), 1u);
  EXPECT_TRUE(logMentions(*log, "writing " + file.string() + " directly"));

  // Neither logind nor the file: the write fails and says why.
  DBusSession other(busWithoutLogind.address(), busWithoutLogind.address());
  auto readOnly = desktop.ports({{0x52, "eDP-1", true, {}}}, &other);
  ASSERT_TRUE(readOnly.connectedDisplays());
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);  // cannot be written as a file
  EXPECT_EQ(readOnly.setLevel("intel_backlight", 0.5f), BacklightStatus::failed);
  EXPECT_TRUE(logMentions(*log, "Cannot set the brightness of intel_backlight: logind did not ("));
  EXPECT_TRUE(logMentions(*log, "failed (Is a directory)"));
  EXPECT_FALSE(logMentions(*log, "video group"));  // not a permission: no advice that would not help
}

namespace {
// Runs `work` on a thread bound by file modes, as an unprivileged user is:
// root's override of them is dropped there (capabilities are per thread).
void boundByFileModes(const std::function<void()>& work) {
  std::thread([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
      data[capability / 32].effective &= ~(1u << (capability % 32));
    ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
    work();
  }).join();
}
}  // namespace

TEST(LinuxDisplayPorts, ABacklightNobodyLetsUsWriteIsExplainedOnceWithItsOwnRemedy) {
  FakeDesktop desktop;
  const auto file = desktop.tree.path("sys/class/drm/card0-eDP-1/intel_backlight/brightness");
  std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  PrivateSessionBus busWithoutLogind;  // logind answers "no such service"
  ASSERT_TRUE(busWithoutLogind.isRunning());
  DBusSession bus(busWithoutLogind.address(), busWithoutLogind.address());
  for (DBusSession* session : {static_cast<DBusSession*>(nullptr), &bus}) {
    auto ports = desktop.ports({{0x52, "eDP-1", true, {}}}, session);
    ASSERT_TRUE(ports.connectedDisplays());
    ScopedLogRecorder log;
    boundByFileModes([&] {
      EXPECT_EQ(ports.setLevel("intel_backlight", 0.5f), BacklightStatus::noAccess);
      EXPECT_EQ(ports.setLevel("intel_backlight", 0.4f), BacklightStatus::noAccess);
    });
    EXPECT_EQ(readTextFile(file), "300\n");
    ASSERT_EQ(log->entries.size(), 1u);
    const std::string& line = log->entries.front().message;
    // Why logind could not help: its name on the bus, or that there is no bus.
    for (const std::string& part : {file.string() + " failed (Permission denied)", std::string("Run Dimmora in a logind session"),
                                   std::string("video group"), std::string(session ? "org.freedesktop.login1" : "(no system bus)")})
      EXPECT_NE(line.find(part), std::string::npos) << line;
    EXPECT_EQ(line.find("i2c"), std::string::npos) << line;
  }
}

namespace {
// A run folder of recovery files and a fake /proc; what a recovery applies is noted by output.
class GammaStashFiles : public ::testing::Test {
 protected:
  GammaStashFiles() { tree.folder("run"); }
  GammaStash stash(const std::string& display, int pid) const {
    return GammaStash(tree.path("run"), tree.path("proc"), display, pid);
  }
  int recover(GammaStash& stash) {
    return stash.recoverAbandoned([this](const std::string& name, const GammaRamps& r) {
      applied.emplace_back(name, r);
      return 0;
    });
  }
  // A process's start time (field 22) in the fake /proc.
  void process(int pid, const std::string& started) const {
    tree.write("proc/" + std::to_string(pid) + "/stat",
               std::to_string(pid) + " (dimmora x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 " + started + "\n");
  }
  // A recovery file as another process wrote it, for display :3.
  static nlohmann::json file(const nlohmann::json& pid, const nlohmann::json& outputs) {
    return {{"pid", pid}, {"started", "1"}, {"display", ":3"}, {"outputs", outputs}};
  }
  static nlohmann::json ramps(const std::vector<std::uint16_t>& channel) {
    return {{"red", channel}, {"green", channel}, {"blue", channel}};
  }

  TempTree tree;
  ScopedLogRecorder log;
  using Applied = std::vector<std::pair<std::string, GammaRamps>>;
  Applied applied;
};
}  // namespace

TEST_F(GammaStashFiles, RestoresRampsOfDeadProcessesOnlyOnTheirDisplay) {
  const GammaRamps original{{0, 32768, 65535}, {0, 32768, 65535}, {0, 30000, 60000}};
  const GammaRamps dimmed{{0, 100, 200}, {0, 100, 200}, {0, 100, 200}};
  // A running process (this one's parent) keeps its file; ours too.
  process(getpid(), "777");
  {
    auto writer = stash(":5", 4242);
    ASSERT_TRUE(writer.rememberOriginal("DP-1", original));
    EXPECT_TRUE(writer.rememberOriginal("DP-1", dimmed));  // the first capture stays
    ASSERT_TRUE(stash(":6", 4343).rememberOriginal("DP-1", original));
  }
  // pid 4242 has no /proc entry: gone.
  auto next = stash(":5", getpid());
  EXPECT_EQ(recover(next), 1);
  EXPECT_EQ(applied, (Applied{{"DP-1", original}}));
  EXPECT_FALSE(std::filesystem::exists(tree.path("run/gamma-4242.json")));
  EXPECT_TRUE(std::filesystem::exists(tree.path("run/gamma-4343.json")));  // another server's

  // Back at the original ramps, nothing needs recovery and the file goes.
  ASSERT_TRUE(next.rememberOriginal("DP-1", original));
  EXPECT_TRUE(std::filesystem::exists(next.filePath()));
  next.noteWritten("DP-1", dimmed);
  EXPECT_TRUE(std::filesystem::exists(next.filePath()));
  next.noteWritten("DP-1", original);
  EXPECT_FALSE(std::filesystem::exists(next.filePath()));
}

TEST_F(GammaStashFiles, ALivingOwnerKeepsItsFileUntilItsPidIsReused) {
  process(5151, "999");
  ASSERT_TRUE(stash(":0", 5151).rememberOriginal("HDMI-1", {{1, 60000}, {2, 60000}, {3, 60000}}));
  auto next = stash(":0", 6000);
  EXPECT_EQ(recover(next), 0);
  EXPECT_TRUE(applied.empty());
  EXPECT_TRUE(std::filesystem::exists(tree.path("run/gamma-5151.json")));
  // The same pid, reused by a later process (another start time), no longer counts as the owner.
  process(5151, "1234");
  EXPECT_EQ(recover(next), 1);
}

TEST_F(GammaStashFiles, FilesItCannotUseAreSetAsideAndStartGoesOn) {
  const auto bright = ramps({0, 65535});
  // As written by a fuzzer or a careless hand: each would have thrown out of the start, or worse.
  const std::pair<int, nlohmann::json> malformed[] = {
      {11, file("1", {{"DP-1", bright}})},  {12, file(1e300, {{"DP-1", bright}})}, {13, file(-4, {{"DP-1", bright}})},
      {14, file(1.5, {{"DP-1", bright}})},  {15, file(nullptr, {{"DP-1", bright}})},
      {16, {{"pid", 16}, {"started", 1}, {"display", ":3"}, {"outputs", nullptr}}},
      {17, file(17, {1, 2})},               {18, nlohmann::json::array({1, 2})},
  };
  for (const auto& [pid, document] : malformed) tree.write("run/gamma-" + std::to_string(pid) + ".json", document.dump());
  tree.write("run/gamma-10.json", "{not json");
  // A FIFO would hold the start forever; a link to /dev/zero would be read until memory runs out.
  ASSERT_EQ(mkfifo(tree.path("run/gamma-19.json").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", tree.path("run/gamma-20.json"));
  tree.write("run/gamma-21.json", file(21, {{"DP-1", bright}}).dump());  // the one good file
  auto next = stash(":3", 99);
  alarm(10);  // a read that blocks ends the test instead of hanging it
  EXPECT_EQ(recover(next), 1);
  alarm(0);
  EXPECT_EQ(applied, (Applied{{"DP-1", {{0, 65535}, {0, 65535}, {0, 65535}}}}));
  for (int n = 10; n <= 20; ++n) {
    const auto name = "gamma-" + std::to_string(n) + ".json";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(tree.path("run/" + name)))) << name;
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(tree.path("run/" + name + ".bad")))) << name;
  }
  EXPECT_TRUE(log->contains("Set the gamma recovery file " + tree.path("run/gamma-11.json").string() +
                            " aside as gamma-11.json.bad: its \"pid\" is not a process ID"));
  for (const char* why : {"gamma-16.json.bad: its \"started\" is not a text", "gamma-17.json.bad: its \"outputs\" is not an object",
                          "gamma-18.json.bad: it is not a JSON object", "gamma-19.json.bad: it cannot be read: a FIFO",
                          "gamma-20.json.bad: it cannot be read: a character device"})
    EXPECT_TRUE(logMentions(*log, why)) << why;
  // What was set aside is not looked at again.
  log->clear();
  EXPECT_EQ(recover(next), 0);
  EXPECT_TRUE(log->entries.empty());
}

TEST(GammaStash, RecoveryFolderIsPrivateOrRefused) {
  TempTree tree;
  const unsigned me = getuid();
  const auto ownerOnly = std::filesystem::perms::owner_all;
  auto mode = [](const std::filesystem::path& p) {
    return std::filesystem::symlink_status(p).permissions() & std::filesystem::perms::all;
  };
  std::string why;
  // With a runtime folder, its Dimmora folder; without, a folder of ours in the temporary folder.
  EXPECT_EQ(GammaStash::recoveryFolder(tree.folder("runtime"), tree.path("tmp"), me, why), tree.path("runtime/Dimmora"));
  EXPECT_EQ(mode(tree.path("runtime/Dimmora")), ownerOnly);
  tree.folder("tmp");
  const auto ours = tree.path("tmp/dimmora-" + std::to_string(me));
  EXPECT_EQ(GammaStash::recoveryFolder(std::nullopt, tree.path("tmp"), me, why), ours / "Dimmora");
  EXPECT_EQ(mode(ours), ownerOnly);
  EXPECT_EQ(mode(ours / "Dimmora"), ownerOnly);

  // What another user could have prepared at that predictable name is refused.
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> prepare;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"writable by all", [](const auto& p) { std::filesystem::create_directory(p);
                                              std::filesystem::permissions(p, std::filesystem::perms::all); },
       "can be written by other users"},
      {"writable by the group", [](const auto& p) { std::filesystem::create_directory(p);
                                                    std::filesystem::permissions(p, std::filesystem::perms::owner_all |
                                                                                        std::filesystem::perms::group_all); },
       "can be written by other users"},
      {"a link to a private folder",
       [&](const auto& p) { std::filesystem::create_directory_symlink(tree.folder("elsewhere"), p); },
       "is a symbolic link"},
      {"a file", [](const auto& p) { std::ofstream(p) << "x"; }, "is not a folder"},
      {"another user's", [](const auto& p) { std::filesystem::create_directory(p);
                                             std::filesystem::permissions(p, std::filesystem::perms::owner_all);
                                             if (chown(p.c_str(), 65534, 65534) != 0) std::filesystem::remove(p); },
       "belongs to another user"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempTree attacked;
    const auto prepared = attacked.path("dimmora-" + std::to_string(me));
    c.prepare(prepared);
    if (!std::filesystem::exists(std::filesystem::symlink_status(prepared))) continue;  // chown needs root
    why.clear();
    EXPECT_FALSE(GammaStash::recoveryFolder(std::nullopt, attacked.root(), me, why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_FALSE(std::filesystem::exists(prepared / "Dimmora"));
    // The same rules hold for the Dimmora folder inside a private one.
    TempTree runtime;
    c.prepare(runtime.path("Dimmora"));
    EXPECT_FALSE(GammaStash::recoveryFolder(runtime.root(), attacked.root(), me, why));
  }
}

TEST_F(GammaStashFiles, OnlyRampsThatCouldBeADisplaysOwnAreRecoveredOrWrittenThroughNoLink) {
  auto channel = [](std::uint16_t top) { return std::vector<std::uint16_t>{0, static_cast<std::uint16_t>(top / 2), top}; };
  const GammaRamps nightLight{channel(65535), channel(52000), channel(36000)};  // warm tint: still rising
  const nlohmann::json warm = {{"red", nightLight.red}, {"green", nightLight.green}, {"blue", nightLight.blue}};
  // DP-4 rises, but only to 0.4 %: a dimmer's ramp, or a planted one, never a display's own.
  tree.write("run/gamma-77.json", file(77, {{"DP-1", ramps({0, 0, 0})}, {"DP-2", ramps({65535, 0, 0})}, {"DP-3", warm},
                                            {"DP-4", ramps({0, 100, 262})}, {"DP-5", ramps({0, 32767})}})
                                      .dump());
  auto next = stash(":3", 78);
  EXPECT_EQ(recover(next), 1);
  EXPECT_EQ(applied, (Applied{{"DP-3", nightLight}}));
  for (const char* output : {"DP-1", "DP-2", "DP-4", "DP-5"})
    EXPECT_TRUE(logMentions(*log, std::string("Ignoring recovered gamma of ") + output)) << output;

  // A link planted where a temporary file could be expected is never written through.
  tree.write("victim", "keep");
  for (const auto* planted : {"run/gamma-78.json.tmp", "run/gamma-78.json"})
    std::filesystem::create_symlink(tree.path("victim"), tree.path(planted));
  ASSERT_TRUE(next.rememberOriginal("DP-3", nightLight));
  EXPECT_EQ(readTextFile(tree.path("victim")), "keep");
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(next.filePath())));
}

TEST(X11GammaTables, FractionsRoundTripThroughSixteenBits) {
  for (std::uint32_t v : {0u, 1u, 257u, 32767u, 32768u, 65534u, 65535u})
    EXPECT_EQ(gammaEntry(gammaFraction(static_cast<std::uint16_t>(v))), v);
  EXPECT_EQ(gammaEntry(-0.5f), 0);
  EXPECT_EQ(gammaEntry(2.0f), 65535);
  EXPECT_EQ(gammaEntry(std::nanf("")), 0);
}

TEST(LinuxEnvironment, FoldersAndLanguagesFollowTheXdgAndLocaleRules) {
  auto env = [](std::map<std::string, std::string> variables) {
    return LinuxEnvironment({std::move(variables), std::nullopt, "/usr/bin/dimmora", "/", std::nullopt});
  };
  EXPECT_EQ(env({{"HOME", "/home/u"}}).applicationSupportDirectory(), "/home/u/.config");
  EXPECT_EQ(env({{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "/cfg"}}).applicationSupportDirectory(), "/cfg");
  EXPECT_EQ(env({{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "rel"}}).applicationSupportDirectory(), "/home/u/.config");
  EXPECT_FALSE(env({}).applicationSupportDirectory());
  // Without HOME, the account's home from the user database, never "/".
  LinuxEnvironment noHome({{}, std::nullopt, "/usr/bin/dimmora", "/", "/home/account"});
  EXPECT_EQ(noHome.applicationSupportDirectory(), "/home/account/.config");
  EXPECT_EQ(noHome.homeDirectory(), "/home/account");
  const char* home = std::getenv("HOME");
  const std::string saved = home ? home : "";
  unsetenv("HOME");
  const auto process = LinuxEnvironment::fromProcess("dimmora");
  if (home) setenv("HOME", saved.c_str(), 1);
  ASSERT_TRUE(accountHomeFolder());
  EXPECT_NE(process.homeDirectory(), "/");
  EXPECT_EQ(process.homeDirectory(), *accountHomeFolder());
  EXPECT_EQ(env({}).executablePath(), "/usr/bin/dimmora");
  EXPECT_FALSE(env({{"XDG_RUNTIME_DIR", "run"}}).runtimeDirectory());

  EXPECT_EQ(env({{"LANG", "ja_JP.UTF-8"}}).preferredLanguages(), (std::vector<std::string>{"ja-JP"}));
  EXPECT_EQ(env({{"LANGUAGE", "fr:ja_JP:fr"}, {"LC_ALL", "en_US.UTF-8"}, {"LANG", "de_DE"}}).preferredLanguages(),
            (std::vector<std::string>{"fr", "ja-JP", "en-US"}));
  EXPECT_EQ(env({{"LC_MESSAGES", "de_AT@euro"}, {"LANG", "ja_JP"}}).preferredLanguages(),
            (std::vector<std::string>{"de-AT"}));
  // LANGUAGE is ignored under the C locale, as gettext does.
  EXPECT_TRUE(env({{"LANGUAGE", "ja"}, {"LANG", "C.UTF-8"}}).preferredLanguages().empty());
}

TEST(XdgAutostart, AnEntryTheDesktopTurnedOffIsOffAndSwitchingOnRewritesIt) {
  TempTree tree;
  const auto exe = tree.write("bin/dimmora", "#!/bin/sh\n");
  XdgAutostart autostart(tree.path("config"), exe);
  // Written by other tools: comments, another group, spaces around "=".
  const std::string entry = "# edited by the session settings\n[Desktop Entry]\nType = Application\nExec = \"" +
                            exe.string() + "\"\n%s\n[Desktop Action x]\nHidden=false\n";
  for (const std::string off : {"Hidden = true", "X-GNOME-Autostart-enabled=false", "Hidden=true\r"}) {
    std::string text = entry;
    text.replace(text.find("%s"), 2, off);
    tree.write("config/autostart/Dimmora.desktop", text);
    LoginLaunchController controller(&autostart);  // reads the entry as the window does
    EXPECT_FALSE(controller.enabled.get()) << off;
    controller.setEnabled(true);
    EXPECT_TRUE(controller.enabled.get()) << off;
    EXPECT_TRUE(autostart.isEnabled()) << off;
    const auto values = desktopEntryValues(*readTextFile(autostart.entryPath()));
    EXPECT_FALSE(values.contains("Hidden"));
    EXPECT_EQ(values.at("X-GNOME-Autostart-enabled"), "true");
    EXPECT_EQ(values.at("Icon"), "io.github.dimmora.Dimmora") << "the icon the package installs";
  }
  // Spaces around "=" are part of neither key nor value.
  tree.write("config/autostart/Dimmora.desktop", "[Desktop Entry]\nExec =  \"" + exe.string() + "\"  \n");
  EXPECT_TRUE(autostart.isEnabled());
  tree.write("config/autostart/Dimmora.desktop", "[Desktop Entry]\nExec = /nowhere/dimmora\n");
  EXPECT_FALSE(autostart.isEnabled()) << "its program is gone";
}

TEST(XdgAutostart, TheEntryStartsTheProgramWhateverItsPathAndRefusesWhatNoLauncherCanStart) {
  // GLib's launcher reads the entry as the desktops that use it do: each
  // program writes a mark, so a path quoted wrongly leaves none.
  TempTree tree;
  const std::string names[] = {"plain",         "with space",      "quote\"d",         "dollar$HOME", "back`tick`",
                               "ends in\\",     "two\\\\s\\n",       "日本語 ünïcode", "semi;colon & amp", "it's"};
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    const auto mark = tree.path("marks/" + std::to_string(&name - names));
    const auto exe = tree.write("bin/" + std::to_string(&name - names) + "/" + name, "#!/bin/sh\ntouch '" + mark.string() + "'\n");
    std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(mark.parent_path());
    XdgAutostart autostart(tree.path("config"), exe);
    EXPECT_FALSE(autostart.isEnabled());
    const auto failure = autostart.enable();
    ASSERT_FALSE(failure) << failure->detail;
    EXPECT_TRUE(autostart.isEnabled());
    const auto entry = *readTextFile(autostart.entryPath());
    EXPECT_EQ(std::count(entry.begin(), entry.end(), '\n'), 9) << entry;
    if (name.find('\\') == std::string::npos) {  // a backslash is written escaped, as entries spell it
      EXPECT_EQ(desktopEntryValues(entry).at("TryExec"), exe.string());
    }
    const auto said = run("gio launch '" + autostart.entryPath().string() + "' 2>&1");
    for (int i = 0; i < 100 && !std::filesystem::exists(mark); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(std::filesystem::exists(mark)) << entry << said;
    EXPECT_FALSE(autostart.disable());
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(autostart.disable()) << "already gone is fine";
  }
  // A line break would add lines of its own ("Hidden=true"); "%" defeats the launchers' lookup.
  for (const std::string name : {"line\nHidden=true", "tab\there", "100%", "bad\xff" "byte"}) {
    SCOPED_TRACE(name);
    XdgAutostart autostart(tree.path("refused"), tree.write("refused/" + name, "#!/bin/sh\n"));
    const auto failure = autostart.enable();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, Autostart::Failure::Kind::unusableProgramPath);
    EXPECT_NE(failure->detail.find("the program's path holds"), std::string::npos) << failure->detail;
    EXPECT_FALSE(std::filesystem::exists(autostart.entryPath()));
  }
  // A config home that is a file cannot hold the entry: the system's text comes back.
  tree.write("blocked", "");
  const auto failure = XdgAutostart(tree.path("blocked"), tree.path("bin/0/plain")).enable();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->kind, Autostart::Failure::Kind::cannotWrite);
  EXPECT_FALSE(failure->detail.empty());
}

TEST(QtInputMonitors, RawEventsBecomeTypedEvents) {
  using Kind = InputEvent::Kind;
  using Raw = RawInputEvent::Kind;
  const std::pair<RawInputEvent, std::tuple<Kind, bool, bool>> cases[] = {  // kind, pressed, Control and Alt
      {{Raw::keyDown, 0, 0x1008FF02, true}, {Kind::brightnessUp, true, true}},
      {{Raw::keyUp, 0, 0x1008FF03, false}, {Kind::brightnessDown, false, false}},
      {{Raw::keyDown, 0, 'a'}, {Kind::key, true, false}},
      {{Raw::buttonUp, 3}, {Kind::button, false, false}},
      {{Raw::scroll, 4}, {Kind::scroll, true, false}},
      {{Raw::modifierChanged}, {Kind::modifier, false, false}},
  };
  for (const auto& [raw, expected] : cases) {
    const auto event = QtInputMonitors::translate(raw);
    EXPECT_EQ(std::tuple(event.kind, event.pressed, event.controlAndAlt), expected) << static_cast<int>(raw.kind);
  }
}

TEST(QtMainLoop, TimersPostsAndCancellationOnTheQtLoop) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QtMainLoop loop;
  std::vector<std::string> order;
  auto posted = loop.post([&] { order.push_back("post"); });
  auto once = loop.after(0.02, [&] { order.push_back("after"); });
  auto cancelled = loop.after(0.01, [&] { order.push_back("cancelled"); });
  cancelled.cancel();
  int ticks = 0;
  ScheduledWork repeating;
  repeating = loop.every(0.005, 0.0005, [&] {
    if (++ticks == 3) repeating.cancel();  // a timer may stop itself from its own work
  });
  EXPECT_TRUE(once.isActive());
  QEventLoop events;
  QTimer::singleShot(120, &events, &QEventLoop::quit);
  events.exec();
  EXPECT_EQ(order, (std::vector<std::string>{"post", "after"}));
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(once.isActive());  // a fired one-shot is done
  EXPECT_GT(loop.uptime(), 0.1);

  EXPECT_EQ(QtMainLoop::timerTypeFor(0.25, 0.025), Qt::CoarseTimer);
  EXPECT_EQ(QtMainLoop::timerTypeFor(1.0 / 24, 0.001), Qt::PreciseTimer);
  EXPECT_EQ(QtMainLoop::timerTypeFor(5.0, 1.0), Qt::VeryCoarseTimer);
}

TEST(QtUserDefaults, DottedKeysPersistAndOddValuesReadAsAbsent) {
  TempTree tree;
  const auto file = QString::fromStdString(tree.path("defaults.ini").string());
  {
    QtUserDefaults defaults(file);
    EXPECT_FALSE(defaults.boolValue("menu.stepsExpanded"));
    defaults.setBool("menu.stepsExpanded", true);
    defaults.setDouble("menu.glassTransparency", 0.35);
  }
  QtUserDefaults reread(file);
  EXPECT_EQ(reread.boolValue("menu.stepsExpanded"), true);
  EXPECT_EQ(reread.doubleValue("menu.glassTransparency"), 0.35);
  EXPECT_FALSE(reread.doubleValue("menu.stepsExpanded"));  // "true" is no number
  reread.remove("menu.stepsExpanded");
  EXPECT_FALSE(reread.boolValue("menu.stepsExpanded"));
  EXPECT_NE(readTextFile(tree.path("defaults.ini")).value_or("").find("menu.glassTransparency"), std::string::npos);
}

TEST(QtDesktop, OnlyWebPagesAndLocalDocumentsAreOpened) {
  int quits = 0;
  QtDesktop desktop(nullptr, [&quits] { ++quits; });
  // Opening a program would run it; a missing file or another scheme is refused before any hand-off.
  EXPECT_FALSE(desktop.openURL("file:///usr/bin/env"));
  EXPECT_FALSE(desktop.openURL("file:///no/such/README.md"));
  EXPECT_FALSE(desktop.openURL("javascript:alert(1)"));
  EXPECT_FALSE(desktop.openURL("not a url at all"));
  EXPECT_EQ(quits, 0);
}
