// The cost of one apply across N displays, and what a fade does to the bus.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "ports/SystemPorts.hpp"
#include "platform/sim/SimulatedMachine.hpp"
#include "platform/sim/VirtualMainLoop.hpp"

namespace {
// N monitors, the controller past its launch phase, and the engine's maps.
struct Rig {
  explicit Rig(int displays) {
    for (int i = 0; i < displays; ++i) {
      const DisplayID id = machine.addExternalMonitor().id();
      targets.insert(id);
      maximums[id] = 100;
      minimums[id] = 5;
      fullGamma[id] = false;
    }
    SystemPorts installed = machine.ports();
    installed.mainLoop = &loop;
    ports = std::make_unique<ScopedSystemPorts>(installed);
    DDCIO::clearCaches();
    controller = std::make_unique<DDCBrightnessController>();
    controller->invalidateDisplayState();
  }
  ~Rig() {
    controller.reset();
    DDCIO::clearCaches();  // cached services point into this machine
  }
  void apply(double level) { controller->apply(level, targets, maximums, minimums, fullGamma, 5); }

  VirtualMainLoop loop;
  SimulatedMachine machine{&loop};
  std::unique_ptr<ScopedSystemPorts> ports;
  std::unique_ptr<DDCBrightnessController> controller;
  std::set<DisplayID> targets;
  std::map<DisplayID, double> maximums, minimums;
  std::map<DisplayID, bool> fullGamma;
};

void BM_ApplyAtRest(benchmark::State& state) {
  Rig rig(static_cast<int>(state.range(0)));
  rig.apply(50);
  for (auto _ : state) rig.apply(50);  // every display already shows the value
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ApplyAtRest)->Arg(1)->Arg(4)->Arg(16);

void BM_ApplyEveryDisplayChanges(benchmark::State& state) {
  Rig rig(static_cast<int>(state.range(0)));
  bool high = false;
  std::int64_t sinceClear = 0;
  for (auto _ : state) {
    rig.apply(high ? 60 : 50);  // ten points apart: never throttled, always written
    high = !high;
    if (++sinceClear == 4096) {
      state.PauseTiming();
      rig.machine.clearLogs();  // the simulator's transfer record would grow without bound
      sinceClear = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ApplyEveryDisplayChanges)->Arg(1)->Arg(4)->Arg(16);

// A 6-second fade from 100 to 70 at 24 frames per second, one apply per
// frame, then a second at rest for the deferred re-apply. Arg 0: ease-out
// (1 - (1 - p)^3), 1: linear.
void BM_FadeWrites(benchmark::State& state) {
  constexpr int kDisplays = 4;
  constexpr double kDuration = 6, kFrameRate = 24, kFrom = 100, kTo = 70;
  const bool easeOut = state.range(0) == 0;
  double writesPerDisplay = 0, largestGap = 0;
  for (auto _ : state) {
    Rig rig(kDisplays);
    const int frames = static_cast<int>(kDuration * kFrameRate);
    for (int frame = 1; frame <= frames; ++frame) {
      rig.loop.advance(1 / kFrameRate);
      const double p = std::min(1.0, frame / (kDuration * kFrameRate));
      const double eased = easeOut ? 1 - std::pow(1 - p, 3) : p;
      rig.apply(kFrom + (kTo - kFrom) * eased);
    }
    rig.loop.advance(1);

    const DisplayID first = *rig.targets.begin();
    std::vector<double> times;
    for (const auto& transfer : rig.machine.i2cLog(first, true))
      if (transfer.result == 0) times.push_back(transfer.time);
    writesPerDisplay = static_cast<double>(times.size());
    largestGap = 0;
    for (std::size_t i = 1; i < times.size(); ++i) largestGap = std::max(largestGap, times[i] - times[i - 1]);
  }
  state.counters["writesPerDisplay"] = writesPerDisplay;
  state.counters["largestGapSeconds"] = largestGap;
}
BENCHMARK(BM_FadeWrites)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}  // namespace
