// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "../TestFiles.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "app/AppModels.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "menu/MenuViewState.hpp"
#include "platform/sim/SimAutostart.hpp"
#include "platform/sim/SimDesktop.hpp"
#include "platform/sim/SimUserDefaults.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/SimulatedSession.hpp"
#include "platform/sim/TemporaryFolder.hpp"
#include "services/DiagnosticCapture.hpp"
#include "services/L10n.hpp"
#include "services/PowerAssertionMonitor.hpp"
#include "services/ShortcutHUD.hpp"
#include "settings/StepStore.hpp"

// The window's rules over the real stores and engine on a simulated machine:
// a virtual loop, in-memory preferences, a recording desktop (clipboard, file
// manager, browser, quit), a login-item service, a private configuration
// folder and a fake system tree (os-release, dpkg database).
class MenuTest : public ::testing::Test, protected SimulatedSession {
 protected:
  MenuTest() {
    ControlStatusStore::shared().clear();
    ShortcutHUD::resetForTesting();
    DiagnosticCapture::resetForTesting();
    L10n::resetForTesting();
    environment.applicationSupport = configRoot;
    environment.home = home.path();
    environment.executable = home.path() / "bin" / "dimmora";
    environment.languages = {"en-US"};
    writeFile(*environment.executable, "program");
  }
  ~MenuTest() override {
    menu.reset();
    engine.reset();
    DiagnosticCapture::resetForTesting();
    ControlStatusStore::shared().clear();
    ShortcutHUD::resetForTesting();
    L10n::resetForTesting();
  }

  MenuViewState::Ports menuPorts() {
    return {.mainLoop = loop,
            .notifications = &notifications,
            .userDefaults = &defaults,
            .screens = &screens,
            .autostart = &autostart,
            .inhibitors = desktopHasInhibitors ? &inhibitors : nullptr,
            .gamma = &machine.gammaTables(),
            .desktopDimming = desktopDimming,
            .maintenance = {.environment = &environment,
                            .application = &application,
                            .fileManager = &fileManager,
                            .clipboard = &clipboard,
                            .urlOpener = &urlOpener}};
  }

  // The models as the program has them after its startup task, and the window's state over them.
  void makeMenu(MenuViewState::Options options = {}) {
    stepStore = std::make_shared<StepStore>(AppModels::storePorts(ports()));
    displayStore = std::make_shared<DisplayStore>(&notifications);
    powerMonitor = std::make_shared<PowerAssertionMonitor>(&inhibitors);
    engine = std::make_shared<IdleBrightnessEngine>(stepStore, displayStore, powerMonitor,
                                                    std::make_unique<DDCBrightnessController>(AppModels::controllerPorts(ports())),
                                                    AppModels::enginePorts(ports()));
    std::set<DisplayID> all;
    for (const auto& display : displayStore->displays.get()) all.insert(display.displayID);
    stepStore->selectedDisplayIDs = all;
    stepStore->reconcileDisplays(displayStore->displays.get());
    engine->start();
    if (options.systemRoot == "/") options.systemRoot = systemRoot.path();
    menu = std::make_unique<MenuViewState>(stepStore, displayStore, engine, menuPorts(), options);
  }

  void twoMonitors() {
    machine.addExternalMonitor({.id = 1, .productName = "Left", .brightness = 100});
    machine.addExternalMonitor({.id = 2, .productName = "Right", .brightness = 100});
  }
  std::filesystem::path configFolder() const { return configRoot / "Dimmora"; }
  std::size_t saves() const { return stepStore->completedSaveCount(); }

  bool desktopHasInhibitors = true;
  DesktopIdleDimming* desktopDimming = nullptr;
  SimAutostart autostart;
  SimUserDefaults defaults;
  SimClipboard clipboard;
  SimFileManager fileManager;
  SimURLOpener urlOpener;
  SimApplicationControl application;
  SimScreenGeometry screens;
  TemporaryFolder home{"dimmora-menu-home"};
  TemporaryFolder systemRoot{"dimmora-menu-root"};
  const std::filesystem::path configRoot = home.path() / ".config";
  std::unique_ptr<SimulatedMachineScope> scope = std::make_unique<SimulatedMachineScope>(ports());

  std::shared_ptr<StepStore> stepStore;
  std::shared_ptr<DisplayStore> displayStore;
  std::shared_ptr<PowerAssertionMonitor> powerMonitor;
  std::shared_ptr<IdleBrightnessEngine> engine;
  std::unique_ptr<MenuViewState> menu;
};
