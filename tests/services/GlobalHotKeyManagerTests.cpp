// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <set>

#include "platform/sim/RecordingLogSink.hpp"
#include "platform/sim/SimGlobalShortcuts.hpp"
#include "services/GlobalHotKeyManager.hpp"

namespace {
using Modifier = GlobalShortcuts::Modifier;
using Combination = GlobalShortcuts::Combination;
const std::vector<Modifier> kControlAlt{Modifier::control, Modifier::alt};
const std::vector<Modifier> kControlAltShift{Modifier::control, Modifier::alt, Modifier::shift};
using Keys = std::map<HotKeyID, std::string>;  // action -> key name

class GlobalHotKeyManagerTest : public ::testing::Test {
 protected:
  GlobalHotKeyManagerTest() { manager->onHotKey = [this](HotKeyID id) { presses.push_back(id); }; }
  Keys registeredKeys() const {
    Keys keys;
    for (const auto& [handle, entry] : service.registrations()) {
      const bool functionKey = entry.combination.keyName.front() == 'F';
      EXPECT_EQ(entry.combination.modifiers, functionKey ? kControlAltShift : kControlAlt);
      keys[entry.action] = entry.combination.keyName;
    }
    return keys;
  }
  std::vector<std::string> appLog() { return recorder->messages(LogCategory::app); }

  SimGlobalShortcuts service;
  ScopedLogRecorder recorder;
  std::unique_ptr<GlobalHotKeyManager> manager = std::make_unique<GlobalHotKeyManager>(&service);
  std::vector<HotKeyID> presses;
};
}  // namespace

// The settings file stores the key as typed ("=", "f2"); the table names its keysym.
TEST(HotKeyTable, HoldsFortyNineDistinctKeysNamedAsXkbNamesThemFunctionKeysWithShift) {
  std::set<std::string_view> keys, names;
  for (const auto& row : hotKeyTable()) {
    keys.insert(row.key);
    names.insert(row.keyName);
    // Function keys take Shift to stay clear of console switching.
    const bool functionKey = row.key.front() == 'f' && row.key.size() > 1;
    EXPECT_EQ(hotKeyModifiers(row.key), functionKey ? kControlAltShift : kControlAlt) << row.key;
    EXPECT_EQ(hotKeyModifierLabel(row.key), functionKey ? "Ctrl+Alt+Shift+" : "Ctrl+Alt+") << row.key;
  }
  EXPECT_EQ(keys.size(), 49u);
  EXPECT_EQ(names.size(), 49u);
  EXPECT_EQ(hotKeyCombination("`"), (Combination{"grave", kControlAlt}));
  EXPECT_EQ(hotKeyCombination("\\"), (Combination{"backslash", kControlAlt}));
  EXPECT_EQ(hotKeyCombination("U"), (Combination{"u", kControlAlt}));
  EXPECT_EQ(hotKeyCombination("F2"), (Combination{"F2", kControlAltShift}));
  EXPECT_FALSE(hotKeyCombination("space"));
  EXPECT_FALSE(hotKeyCombination("brightness_up"));
  EXPECT_EQ(hotKeyModifierLabel("F2"), "Ctrl+Alt+Shift+");
  EXPECT_EQ(hotKeyModifierLabel("brightness_up"), "Ctrl+Alt+");
  EXPECT_EQ(hotKeyModifiers("Brightness_Down"), kControlAlt);
}

TEST_F(GlobalHotKeyManagerTest, RegistersRestoreAlwaysAndShortcutsUnlessBrightnessKeys) {
  manager->update("Brightness_Up", "BRIGHTNESS_DOWN");
  EXPECT_EQ(registeredKeys(), (Keys{{HotKeyID::restore, "r"}}));
  manager->update("F1", "f2");
  manager->update("F1", "f2");  // a rebuild, not an addition
  EXPECT_EQ(registeredKeys(),
            (Keys{{HotKeyID::increaseMax, "F1"}, {HotKeyID::decreaseMax, "F2"}, {HotKeyID::restore, "r"}}));
  EXPECT_EQ(manager->registrations().size(), 3u);
  EXPECT_TRUE(appLog().empty());

  EXPECT_TRUE(service.press({"F1", kControlAltShift}));
  EXPECT_TRUE(service.press({"F2", kControlAltShift}));
  EXPECT_TRUE(service.press({"r", kControlAlt}));
  EXPECT_FALSE(service.press({"F1", kControlAlt}));  // the console-switch chord is not the shortcut
  EXPECT_FALSE(service.press({"F1", {Modifier::control}}));  // Control alone is not the shortcut
  EXPECT_EQ(presses, (std::vector<HotKeyID>{HotKeyID::increaseMax, HotKeyID::decreaseMax, HotKeyID::restore}));
}

TEST_F(GlobalHotKeyManagerTest, UnsupportedAndRefusedKeysAreLoggedAndLeftOut) {
  manager->update("k", "space");
  EXPECT_EQ(registeredKeys(), (Keys{{HotKeyID::increaseMax, "k"}, {HotKeyID::restore, "r"}}));
  manager->update("F3", "");
  service.takenByOthers.push_back({"F2", kControlAltShift});
  manager->update("R", "f2");  // "r" is the restore key already
  EXPECT_EQ(appLog(), (std::vector<std::string>{
                          "Unsupported hotkey character: space", "Unsupported hotkey character: F3",
                          "Unsupported hotkey character: ",
                          "Cannot register the global shortcut Ctrl+Alt+r: the combination is taken",
                          "Cannot register the global shortcut Ctrl+Alt+Shift+F2: the combination is taken"}));
  EXPECT_EQ(recorder->entries.back().level, LogLevel::error);
  EXPECT_EQ(registeredKeys(), (Keys{{HotKeyID::restore, "r"}}));
  EXPECT_EQ(manager->registrations().size(), 1u);
}

TEST_F(GlobalHotKeyManagerTest, ADroppedRegistrationIsForgottenAndReportedAndAllEndWithTheManager) {
  int lost = 0;
  manager->onRegistrationLost = [&] { ++lost; };
  manager->update("f2", "f1");
  service.drop(manager->registrations().at(HotKeyID::restore));
  EXPECT_EQ(lost, 1);
  EXPECT_FALSE(manager->registrations().contains(HotKeyID::restore));
  EXPECT_EQ(manager->registrations().size(), 2u);
  // The presses end with the manager.
  manager.reset();
  EXPECT_TRUE(service.registrations().empty());
  EXPECT_FALSE(service.press({"F2", kControlAltShift}));
  EXPECT_TRUE(presses.empty());
}

TEST(GlobalHotKeyManagerFailures, ADesktopRefusingEverythingAndMissingShortcutsAreTold) {
  ScopedLogRecorder recorder;
  SimGlobalShortcuts service;
  service.refuseEvery = GlobalShortcuts::Refusal::connectionLost;
  GlobalHotKeyManager manager(&service);
  manager.update("brightness_up", "brightness_down");
  EXPECT_TRUE(manager.registrations().empty());
  // No shortcuts at all: nothing registers, and the binding, not the manager, says why.
  GlobalHotKeyManager orphan(nullptr);
  orphan.update("f2", "f1");
  EXPECT_TRUE(orphan.registrations().empty());
  EXPECT_EQ(recorder->messages(LogCategory::app),
            (std::vector<std::string>{
                "Cannot register the global shortcut Ctrl+Alt+r: the connection to the display server is lost"}));
}
