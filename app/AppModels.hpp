// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "base/MainLoop.hpp"

class StepStore;
class DisplayStore;
class IdleBrightnessEngine;
class PowerAssertionMonitor;

// The root object: creates the long-lived models in order and, half a second
// later, brings displays, settings and the engine into step.
class AppModels {
 public:
  static constexpr double kStartupDelaySeconds = 0.5;

  // Needs systemPorts().mainLoop.
  AppModels();
  ~AppModels();
  AppModels(const AppModels&) = delete;
  AppModels& operator=(const AppModels&) = delete;

  const std::shared_ptr<StepStore> stepStore;
  const std::shared_ptr<DisplayStore> displayStore;
  const std::shared_ptr<IdleBrightnessEngine> engine;
  const std::shared_ptr<PowerAssertionMonitor> powerAssertionMonitor;

 private:
  struct Models;
  explicit AppModels(Models models);
  void runStartupTask();

  ScheduledWork startupAnnouncement_;
  ScheduledWork startupTask_;
};
