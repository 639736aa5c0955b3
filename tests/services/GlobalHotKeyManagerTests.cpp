// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <set>

#include "ports/SystemPorts.hpp"
#include "platform/sim/RecordingLogSink.hpp"
#include "platform/sim/SimHotKeyService.hpp"
#include "services/GlobalHotKeyManager.hpp"

namespace {
constexpr std::uint32_t kControlOption = 0x1800;
constexpr std::uint32_t kControlOptionShift = 0x1A00;
using Codes = std::map<std::uint32_t, std::uint32_t>;  // hot-key id -> key code

class GlobalHotKeyManagerTest : public ::testing::Test {
 protected:
  GlobalHotKeyManagerTest() {
    manager->installEventHandler();
    manager->onHotKey = [this](HotKeyID id) { presses.push_back(id); };
  }
  Codes registeredCodes() const {
    Codes codes;
    for (const auto& [ref, registration] : service.registrations()) {
      const bool functionKey = registration.keyCode == 122 || registration.keyCode == 120;
      EXPECT_EQ(registration.modifiers, functionKey ? kControlOptionShift : kControlOption);
      EXPECT_EQ(registration.identity.signature, 0x534F4C44u);
      codes[registration.identity.id] = registration.keyCode;
    }
    return codes;
  }
  std::vector<std::string> appLog() { return recorder->messages(LogCategory::app); }

  SimHotKeyService service;
  ScopedSystemPorts ports_{SystemPorts{.hotKeys = &service}};
  ScopedLogRecorder recorder;
  std::unique_ptr<GlobalHotKeyManager> manager = std::make_unique<GlobalHotKeyManager>();
  std::vector<HotKeyID> presses;
};
}  // namespace

TEST(HotKeyTable, HoldsFortyNineDistinctKeys) {
  std::set<std::string_view> names;
  std::set<std::uint32_t> codes;
  for (const auto& row : hotKeyTable()) names.insert(row.key), codes.insert(row.keyCode);
  EXPECT_EQ(names.size(), 49u);
  EXPECT_EQ(codes.size(), 49u);
  EXPECT_EQ(hotKeyCode("`"), 50u);
}

TEST(HotKeyTable, FunctionKeysTakeShiftToStayClearOfConsoleSwitching) {
  for (const auto& row : hotKeyTable()) {
    const bool functionKey = row.key.front() == 'f' && row.key.size() > 1;
    EXPECT_EQ(row.modifiers, functionKey ? kControlOptionShift : kControlOption) << row.key;
    EXPECT_EQ(hotKeyModifierLabel(row.key), functionKey ? "Ctrl+Alt+Shift+" : "Ctrl+Alt+") << row.key;
  }
  EXPECT_EQ(hotKeyModifierLabel("F2"), "Ctrl+Alt+Shift+");
  EXPECT_EQ(hotKeyModifierLabel("brightness_up"), "Ctrl+Alt+");
  EXPECT_EQ(hotKeyModifiers("Brightness_Down"), kControlOption);
}

TEST_F(GlobalHotKeyManagerTest, RegistersRestoreAlwaysAndShortcutsUnlessBrightnessKeys) {
  manager->update("Brightness_Up", "BRIGHTNESS_DOWN");
  EXPECT_EQ(registeredCodes(), (Codes{{3, 15}}));
  manager->update("F1", "f2");
  manager->update("F1", "f2");  // a rebuild, not an addition
  EXPECT_EQ(registeredCodes(), (Codes{{1, 122}, {2, 120}, {3, 15}}));
  EXPECT_EQ(manager->hotKeyRefs().size(), 3u);
  EXPECT_TRUE(appLog().empty());

  EXPECT_TRUE(service.press(122, kControlOptionShift));
  EXPECT_TRUE(service.press(120, kControlOptionShift));
  EXPECT_TRUE(service.press(15, kControlOption));
  EXPECT_FALSE(service.press(122, kControlOption));  // the console-switch chord is not the shortcut
  EXPECT_FALSE(service.press(122, 0x1000));  // Control alone is not the shortcut
  EXPECT_EQ(presses, (std::vector<HotKeyID>{HotKeyID::increaseMax, HotKeyID::decreaseMax, HotKeyID::restore}));
}

TEST_F(GlobalHotKeyManagerTest, UnsupportedAndRefusedKeysAreLoggedAndLeftOut) {
  manager->update("k", "space");
  EXPECT_EQ(registeredCodes(), (Codes{{1, 40}, {3, 15}}));
  manager->update("F3", "");
  service.takenByOthers.insert({120, kControlOptionShift});
  manager->update("R", "f2");  // "r" is the restore key already
  EXPECT_EQ(appLog(), (std::vector<std::string>{
                          "Unsupported hotkey character: space", "Unsupported hotkey character: F3",
                          "Unsupported hotkey character: ", "RegisterEventHotKey failed for R: -9878",
                          "RegisterEventHotKey failed for f2: -9878"}));
  EXPECT_EQ(recorder->entries.back().level, LogLevel::error);
  EXPECT_EQ(registeredCodes(), (Codes{{3, 15}}));
  EXPECT_EQ(manager->hotKeyRefs().size(), 1u);
}

TEST_F(GlobalHotKeyManagerTest, HandlerFiltersByIdAndAlwaysReportsHandled) {
  using Identity = HotKeyService::Identity;
  for (const auto& identity : {std::optional<Identity>{{0x534F4C44, 0}}, std::optional<Identity>{{0x534F4C44, 4}},
                               std::optional<Identity>{}, std::optional<Identity>{{0x41424344, 2}}}) {
    EXPECT_EQ(service.deliver({identity}), std::vector<std::int32_t>{0});
  }
  EXPECT_EQ(presses, std::vector<HotKeyID>{HotKeyID::decreaseMax});  // the signature is not compared
  manager->onHotKey = nullptr;
  EXPECT_EQ(service.deliver({Identity{0x534F4C44, 1}}), std::vector<std::int32_t>{0});
}

TEST_F(GlobalHotKeyManagerTest, InstallsOnceAndOutlivesTheManagerSafely) {
  manager->installEventHandler();
  EXPECT_EQ(service.installCalls(), 1);
  EXPECT_TRUE(manager->eventHandler().has_value());
  manager->update("f2", "f1");
  manager.reset();
  EXPECT_TRUE(service.registrations().empty());
  // The handler stays installed; a late press must not reach the dead manager.
  EXPECT_EQ(service.deliver({HotKeyService::Identity{0x534F4C44, 1}}), std::vector<std::int32_t>{0});
  EXPECT_TRUE(presses.empty());
}

TEST(GlobalHotKeyManagerFailures, InstallFailureAndMissingServiceAreLogged) {
  ScopedLogRecorder recorder;
  SimHotKeyService service;
  service.installStatus = -50;
  {
    ScopedSystemPorts ports(SystemPorts{.hotKeys = &service});
    GlobalHotKeyManager manager;
    manager.installEventHandler();
    EXPECT_FALSE(manager.eventHandler().has_value());
    manager.update("f2", "f1");  // keys still register, though no press would arrive
    EXPECT_EQ(manager.hotKeyRefs().size(), 3u);
  }
  // No hot-key service at all: nothing registers, and the binding, not the manager, says why.
  GlobalHotKeyManager orphan;
  orphan.installEventHandler();
  orphan.update("brightness_up", "f1");
  EXPECT_FALSE(orphan.eventHandler().has_value());
  EXPECT_TRUE(orphan.hotKeyRefs().empty());
  EXPECT_EQ(recorder->messages(LogCategory::app), (std::vector<std::string>{"InstallEventHandler failed: -50"}));
}
