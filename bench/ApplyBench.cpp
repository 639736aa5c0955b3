// SPDX-License-Identifier: GPL-3.0-or-later
// The cost of one apply across N displays, and what a fade does to the bus.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "display/DDCBrightness/DDCBrightnessController.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "engine/FadeTransition.hpp"
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
    DDCIO::usePorts({.mainLoop = &loop,
                     .displays = &machine.displays(),
                     .i2c = &machine.i2cBuses(),
                     .backlights = &machine.backlights()});
    DDCIO::resetBusTiming();  // each rig has a clock of its own
    controller = std::make_unique<DDCBrightnessController>(
        DDCBrightnessController::Ports{.mainLoop = loop, .gamma = &machine.gammaTables()});
    controller->invalidateDisplayState();
  }
  ~Rig() {
    controller.reset();
    DDCIO::usePorts({});  // cached information points into this machine
  }
  void apply(double level) { controller->apply(level, targets, maximums, minimums, fullGamma, 5); }

  VirtualMainLoop loop;
  SimulatedMachine machine{loop};
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

// A 6-second fade from 100 down to Arg 0 at Arg 1 frames per second on Arg 2
// monitors, along the default ease-out curve, one apply per frame as the
// engine does, then a second at rest for whatever is held back. Measured on
// the bus (the loop's clock): writes per monitor, the smallest spacing between
// two messages on one bus, the largest gap between writes; and the main
// thread's longest stretch in one frame.
void BM_FadeOnTheBus(benchmark::State& state) {
  constexpr double kDuration = 6, kFrom = 100;
  const double to = static_cast<double>(state.range(0));
  const double frameRate = static_cast<double>(state.range(1));
  const int displays = static_cast<int>(state.range(2));
  double writesPerDisplay = 0, smallestSpacing = 0, largestGap = 0, longestBlocked = 0;
  for (auto _ : state) {
    Rig rig(displays);
    for (const DisplayID id : rig.targets) rig.machine.display(id).minimumMessageIntervalMicroseconds = 50'000;
    rig.apply(kFrom);
    rig.loop.advance(1);
    rig.machine.clearLogs();
    longestBlocked = 0;
    const int frames = static_cast<int>(kDuration * frameRate);
    for (int frame = 1; frame <= frames + static_cast<int>(frameRate); ++frame) {
      const auto started = std::chrono::steady_clock::now();
      rig.loop.advance(1 / frameRate);  // runs any deferred re-apply that fell due
      if (frame <= frames) rig.apply(kFrom + (to - kFrom) * easedProgress(FadeCurve::easeOut, frame / (double)frames));
      const double blocked = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      longestBlocked = std::max(longestBlocked, blocked);
    }

    const DisplayID first = *rig.targets.begin();
    std::vector<double> writes;
    for (const auto& transfer : rig.machine.i2cLog(first, true)) writes.push_back(transfer.time);
    writesPerDisplay = static_cast<double>(writes.size());
    smallestSpacing = std::numeric_limits<double>::infinity();
    largestGap = 0;
    const auto& all = rig.machine.i2cLog();  // every message, reads and failures too
    double previous = -1;
    for (const auto& transfer : all) {
      if (transfer.displayID != first) continue;
      if (previous >= 0) smallestSpacing = std::min(smallestSpacing, transfer.time - previous);
      previous = transfer.time;
    }
    for (std::size_t i = 1; i < writes.size(); ++i) largestGap = std::max(largestGap, writes[i] - writes[i - 1]);
    if (rig.machine.display(first).droppedMessages() > 0) state.SkipWithError("a monitor ignored a message");
  }
  state.counters["writesPerMonitor"] = writesPerDisplay;
  state.counters["smallestSpacingMs"] = smallestSpacing * 1e3;
  state.counters["largestGapMs"] = largestGap * 1e3;
  state.counters["longestBlockedMs"] = longestBlocked * 1e3;
}
BENCHMARK(BM_FadeOnTheBus)
    ->ArgNames({"to", "fps", "monitors"})
    ->ArgsProduct({{70, 20}, {24, 60}, {1, 4}})
    ->Unit(benchmark::kMillisecond);
}  // namespace
