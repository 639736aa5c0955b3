// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "app/AppModels.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "platform/sim/SimInputMonitors.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/SimulatedSession.hpp"
#include "platform/sim/TemporaryFolder.hpp"
#include "services/L10n.hpp"
#include "services/PowerAssertionMonitor.hpp"
#include "services/ShortcutHUD.hpp"
#include "settings/StepStore.hpp"

// The real controller, with every call the engine makes written down.
class RecordingController final : public BrightnessController {
 public:
  struct Apply {
    double level;
    std::set<DisplayID> targets;
  };
  // Every level handed over, a restore's 100 % included, at the loop's uptime.
  struct Level {
    double time;
    double level;
  };
  explicit RecordingController(const DDCBrightnessController::Ports& ports) : real(ports), loop_(ports.mainLoop) {}
  void apply(double brightnessPercent, const std::set<DisplayID>& targetDisplayIDs,
             const std::map<DisplayID, double>& displayMaximumPercents,
             const std::map<DisplayID, double>& displayMinimumPercents,
             const std::map<DisplayID, bool>& displayFullGammaModes, double safetyMinimumPercent) override {
    applies.push_back({brightnessPercent, targetDisplayIDs});
    levels.push_back({loop_.uptime(), brightnessPercent});
    real.apply(brightnessPercent, targetDisplayIDs, displayMaximumPercents, displayMinimumPercents,
               displayFullGammaModes, safetyMinimumPercent);
  }
  void restoreBrightness(const std::set<DisplayID>& displayIDs, const std::map<DisplayID, double>& maximums,
                         const std::map<DisplayID, bool>& fullGamma, double safety) override {
    ++restores;
    levels.push_back({loop_.uptime(), 100});
    real.restoreBrightness(displayIDs, maximums, fullGamma, safety);
  }
  void invalidateDisplayState() override {
    ++invalidations;
    real.invalidateDisplayState();
  }
  void setUserAway(bool away) override { real.setUserAway(away); }

  std::vector<Apply> applies;
  std::vector<Level> levels;
  int restores = 0;
  int invalidations = 0;
  DDCBrightnessController real;

 private:
  const MainLoop& loop_;
};

// A simulated machine on a virtual loop, a scriptable idle clock and input
// monitors, a private configuration folder, and the real models. Tests add
// displays, then call makeEngine().
class EngineTest : public ::testing::Test, protected SimulatedSession {
 protected:
  EngineTest() {
    ControlStatusStore::shared().clear();
    ShortcutHUD::resetForTesting();
    L10n::resetForTesting();
    environment.applicationSupport = configRoot;
    environment.home = configRoot;
  }
  ~EngineTest() override {
    engine.reset();
    ControlStatusStore::shared().clear();
    ShortcutHUD::resetForTesting();
  }

  // Builds the stores and the engine on the machine as it is now, with the
  // settings of the private folder (the defaults when it is fresh).
  void makeEngine() {
    stepStore = std::make_shared<StepStore>(AppModels::storePorts(ports()));
    displayStore = std::make_shared<DisplayStore>(&notifications);
    powerMonitor = std::make_shared<PowerAssertionMonitor>(&inhibitors);
    auto recording = std::make_unique<RecordingController>(AppModels::controllerPorts(ports()));
    controller = recording.get();
    engine = std::make_unique<IdleBrightnessEngine>(stepStore, displayStore, powerMonitor, std::move(recording),
                                                    AppModels::enginePorts(ports()));
  }
  // The usual start: every connected display selected, limits reconciled,
  // the launch brightness read and taken over, then started.
  void startEngine() {
    if (!engine) makeEngine();
    std::set<DisplayID> all;
    for (const auto& display : displayStore->displays.get()) all.insert(display.displayID);
    stepStore->selectedDisplayIDs = all;
    stepStore->reconcileDisplays(displayStore->displays.get());
    loop.advance(0.25);  // the monitors' brightness is read meanwhile, as at a real start
    idle.setIdleSeconds(0);  // the idle clock starts with the engine, as before
    engine->start();
  }
  void setSteps(const std::vector<std::pair<double, double>>& thresholdsAndLevels) {
    std::vector<IdleStep> steps;
    for (const auto& [seconds, percent] : thresholdsAndLevels) steps.push_back({Uuid::random(), seconds, percent});
    stepStore->setSteps(steps);
  }
  // Lets `seconds` pass with nobody touching anything.
  void idleFor(double seconds) { loop.advance(seconds); }
  // The desktop says the displays changed; the engine has `settle` seconds to follow.
  void displaysChanged(double settle = 1) {
    notifications.screenParametersChanged.emit();
    idleFor(settle);
  }
  void pressKeyElsewhere() {
    input.sendGlobal(SimInputMonitors::keyDown());
    loop.runPending();
  }
  std::size_t applyCount() const { return controller->applies.size(); }
  double lastLevel() const { return controller->applies.back().level; }

  TemporaryFolder configFolder{"dimmora-engine"};
  const std::filesystem::path configRoot = configFolder.path();
  std::unique_ptr<SimulatedMachineScope> scope = std::make_unique<SimulatedMachineScope>(ports());

  std::shared_ptr<StepStore> stepStore;
  std::shared_ptr<DisplayStore> displayStore;
  std::shared_ptr<PowerAssertionMonitor> powerMonitor;
  RecordingController* controller = nullptr;
  std::unique_ptr<IdleBrightnessEngine> engine;
};

// Two monitors at full brightness, both selected, the default steps (0 s
// 100 %, 180 s 70 %, 600 s 40 %, 1200 s 20 %), the engine started.
class StartedEngine : public EngineTest {
 protected:
  StartedEngine() {
    machine.addExternalMonitor({.id = 1, .brightness = 100});
    machine.addExternalMonitor({.id = 2, .brightness = 100});
    startEngine();
  }
};
