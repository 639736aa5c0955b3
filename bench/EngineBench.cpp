// SPDX-License-Identifier: GPL-3.0-or-later
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "app/AppModels.hpp"
#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "platform/sim/SimEnvironment.hpp"
#include "platform/sim/SimIdleTime.hpp"
#include "platform/sim/SimulatedMachine.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/TemporaryFolder.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/PowerAssertionMonitor.hpp"
#include "settings/StepStore.hpp"

namespace {
// A started engine driving `displays` simulated monitors, settings in a private folder.
struct Rig {
  explicit Rig(int displays) {
    environment.applicationSupport = folder;
    for (int i = 0; i < displays; ++i) machine.addExternalMonitor({.brightness = 100});
    SystemPorts ports = machine.ports();
    ports.mainLoop = &loop;
    ports.environment = &environment;
    ports.idleTime = &idle;
    scope = std::make_unique<SimulatedMachineScope>(ports);
    store = std::make_shared<StepStore>(AppModels::storePorts(ports));
    auto displayStore = std::make_shared<DisplayStore>(nullptr);
    std::set<DisplayID> all;
    for (const auto& display : displayStore->displays.get()) all.insert(display.displayID);
    store->selectedDisplayIDs = all;
    store->reconcileDisplays(displayStore->displays.get());
    engine = std::make_unique<IdleBrightnessEngine>(store, displayStore, std::make_shared<PowerAssertionMonitor>(nullptr),
                                                    std::make_unique<DDCBrightnessController>(AppModels::controllerPorts(ports)),
                                                    AppModels::enginePorts(ports));
    engine->start();
  }
  ~Rig() {
    engine.reset();
    store.reset();
    scope.reset();
  }

  // A long linear fade from 100 to 0, so every frame moves the level.
  void startLongFade() {
    store->fadeCurve = FadeCurve::linear;
    store->fadeDurationSeconds = 3000;
    store->setSteps({{Uuid::random(), 0, 100}, {Uuid::random(), 1, 0}});
    idle.registerInput();
    engine->handleUserActivity();
    loop.advance(1.1);
  }

  TemporaryFolder temporary{"dimmora-bench"};
  const std::filesystem::path folder = temporary.path();
  VirtualMainLoop loop;
  SimulatedMachine machine{loop};
  SimIdleTime idle{loop};
  SimEnvironment environment;
  std::unique_ptr<SimulatedMachineScope> scope;
  std::shared_ptr<StepStore> store;
  std::unique_ptr<IdleBrightnessEngine> engine;
};

void restingTick(benchmark::State& state) {
  Rig rig(static_cast<int>(state.range(0)));
  for (auto _ : state) rig.engine->tick();
  // An hour at rest is 14,400 ticks: CPU time / (iterations / 14,400).
  state.counters["cpu_per_resting_hour"] = benchmark::Counter(static_cast<double>(state.iterations()) / 14'400.0,
                                                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(restingTick)->Arg(1)->Arg(4);

void fadeFrame(benchmark::State& state) {
  Rig rig(static_cast<int>(state.range(0)));
  rig.startLongFade();
  for (auto _ : state) {
    rig.loop.advance(1.0 / 24);  // one frame: the timer fires tick() once
    if (!rig.engine->fadeTransition()) {
      state.PauseTiming();
      rig.startLongFade();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(fadeFrame)->Arg(1)->Arg(4);
}  // namespace
