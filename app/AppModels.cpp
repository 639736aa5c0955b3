// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppModels.hpp"

#include <set>
#include <string>

#include "base/ProgramVersion.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "ports/SystemPorts.hpp"
#include "services/AppLog.hpp"
#include "services/PowerAssertionMonitor.hpp"
#include "settings/StepStore.hpp"

// The models in creation order, each creation logged, before the fields are set.
struct AppModels::Models {
  std::shared_ptr<StepStore> stepStore;
  std::shared_ptr<DisplayStore> displayStore;
  std::shared_ptr<IdleBrightnessEngine> engine;
  std::shared_ptr<PowerAssertionMonitor> powerAssertionMonitor;

  static Models create(const SystemPorts& ports) {
    AppLog::app.log("Dimmora init start version=" + std::string(ProgramVersion::number) + " build=" +
                    std::string(ProgramVersion::build));
    Models models;
    models.stepStore = std::make_shared<StepStore>(storePorts(ports));
    AppLog::app.log("StepStore created");
    models.displayStore = std::make_shared<DisplayStore>(ports.notifications);
    AppLog::app.log("DisplayStore created");
    models.powerAssertionMonitor = std::make_shared<PowerAssertionMonitor>(ports.inhibitors);
    AppLog::app.log("PowerAssertionMonitor created");
    auto controller = std::make_unique<DDCBrightnessController>(controllerPorts(ports));
    models.engine = std::make_shared<IdleBrightnessEngine>(
        models.stepStore, models.displayStore, models.powerAssertionMonitor, std::move(controller),
        enginePorts(ports));
    AppLog::app.log("IdleBrightnessEngine created");
    return models;
  }
};

AppModels::AppModels(const SystemPorts& ports) : AppModels(Models::create(ports), *ports.mainLoop) {}

AppModels::AppModels(Models models, MainLoop& loop)
    : stepStore(std::move(models.stepStore)),
      displayStore(std::move(models.displayStore)),
      engine(std::move(models.engine)),
      powerAssertionMonitor(std::move(models.powerAssertionMonitor)) {
  AppLog::app.log("Models assigned");
  // The task starts on a later turn of the loop, then sleeps; both are
  // cancelled with the root object, which in the app lives until exit.
  startupAnnouncement_ = loop.post([this, &loop] {
    AppLog::app.log("Startup task scheduled");
    startupTask_ = loop.after(kStartupDelaySeconds, [this] { runStartupTask(); });
  });
}

AppModels::~AppModels() = default;

StepStore::Ports AppModels::storePorts(const SystemPorts& ports) {
  return {.mainLoop = ports.mainLoop, .environment = ports.environment, .notifications = ports.notifications};
}

DDCBrightnessController::Ports AppModels::controllerPorts(const SystemPorts& ports) {
  return {.mainLoop = *ports.mainLoop, .gamma = ports.gamma, .notifications = ports.notifications};
}

IdleBrightnessEngine::Ports AppModels::enginePorts(const SystemPorts& ports) {
  return {.mainLoop = *ports.mainLoop,
          .idleTime = ports.idleTime,
          .inputMonitors = ports.inputMonitors,
          .notifications = ports.notifications,
          .shortcuts = ports.shortcuts};
}

void AppModels::runStartupTask() {
  AppLog::app.log("Startup task wake after delay");
  displayStore->refresh();
  AppLog::app.log("Display refresh finished");
  // Decided before reconciling, which may add profiles.
  const bool firstRun = stepStore->selectedDisplayIDs.get().empty() && stepStore->displayProfiles().empty();
  stepStore->reconcileDisplays(displayStore->displays.get());
  AppLog::app.log("Display maximum sync finished");
  if (firstRun) {
    std::set<DisplayID> all;
    for (const auto& display : displayStore->displays.get()) all.insert(display.displayID);
    // The assignment requests the save (held while an interactive edit is open).
    stepStore->selectedDisplayIDs = all;
    AppLog::app.log("Selected displays initialized");
  }
  powerAssertionMonitor->start();
  AppLog::app.log("Power monitor started");
  engine->start();
  AppLog::app.log("Engine started");
}
