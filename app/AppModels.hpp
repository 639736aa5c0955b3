// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "base/MainLoop.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "settings/StepStore.hpp"

class DisplayStore;
class PowerAssertionMonitor;
struct SystemPorts;

// The root object: creates the long-lived models in order and, half a second
// later, brings displays, settings and the engine into step.
class AppModels {
 public:
  static constexpr double kStartupDelaySeconds = 0.5;

  // Builds each model with the ports it uses; the ports must outlive it, and
  // the main loop is required.
  explicit AppModels(const SystemPorts& ports);
  ~AppModels();
  AppModels(const AppModels&) = delete;
  AppModels& operator=(const AppModels&) = delete;

  const std::shared_ptr<StepStore> stepStore;
  const std::shared_ptr<DisplayStore> displayStore;
  const std::shared_ptr<IdleBrightnessEngine> engine;
  const std::shared_ptr<PowerAssertionMonitor> powerAssertionMonitor;

  // What each model is given of the desktop's ports (test fixtures build models the same way).
  static StepStore::Ports storePorts(const SystemPorts& ports);
  static DDCBrightnessController::Ports controllerPorts(const SystemPorts& ports);
  static IdleBrightnessEngine::Ports enginePorts(const SystemPorts& ports);

 private:
  struct Models;
  AppModels(Models models, MainLoop& loop);
  void runStartupTask();

  ScheduledWork startupAnnouncement_;
  ScheduledWork startupTask_;
};
