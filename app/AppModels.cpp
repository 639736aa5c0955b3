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

  static Models create() {
    AppLog::app.log("Dimmora init start version=" + std::string(ProgramVersion::number) + " build=" +
                    std::string(ProgramVersion::build));
    const SystemPorts& ports = systemPorts();
    Models models;
    models.stepStore = std::make_shared<StepStore>(StepStore::Ports{
        .mainLoop = ports.mainLoop, .environment = ports.environment, .notifications = ports.notifications});
    AppLog::app.log("StepStore created");
    models.displayStore = std::make_shared<DisplayStore>();
    AppLog::app.log("DisplayStore created");
    models.powerAssertionMonitor = std::make_shared<PowerAssertionMonitor>(ports.inhibitors);
    AppLog::app.log("PowerAssertionMonitor created");
    auto controller = std::make_unique<DDCBrightnessController>();
    models.engine = std::make_shared<IdleBrightnessEngine>(models.stepStore, models.displayStore,
                                                           models.powerAssertionMonitor, std::move(controller));
    AppLog::app.log("IdleBrightnessEngine created");
    return models;
  }
};

AppModels::AppModels() : AppModels(Models::create()) {}

AppModels::AppModels(Models models)
    : stepStore(std::move(models.stepStore)),
      displayStore(std::move(models.displayStore)),
      engine(std::move(models.engine)),
      powerAssertionMonitor(std::move(models.powerAssertionMonitor)) {
  AppLog::app.log("Models assigned");
  MainLoop& loop = *systemPorts().mainLoop;
  // The task starts on a later turn of the loop, then sleeps; both are
  // cancelled with the root object, which in the app lives until exit.
  startupAnnouncement_ = loop.post([this, &loop] {
    AppLog::app.log("Startup task scheduled");
    startupTask_ = loop.after(kStartupDelaySeconds, [this] { runStartupTask(); });
  });
}

AppModels::~AppModels() = default;

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
