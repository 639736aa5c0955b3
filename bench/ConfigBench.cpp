// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of reading and writing the configuration: the pure encode/decode, and
// the store's full load (read, adopt, one atomic write) and save (fsync'd).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "platform/sim/RecordingLogSink.hpp"
#include "platform/sim/SimEnvironment.hpp"
#include "platform/sim/TemporaryFolder.hpp"
#include "settings/AppConfig.hpp"
#include "settings/AtomicFile.hpp"
#include "settings/StepStore.hpp"

namespace {

AppConfig configWithSteps(int count) {
  AppConfig config = defaultConfig();
  config.steps.clear();
  for (int i = 0; i < count; ++i) config.steps.push_back({Uuid::random(), i * 30.0, 100.0 - (i % 100)});
  for (DisplayID id = 1; id <= 4; ++id) {
    config.selectedDisplayIDs.push_back(id);
    config.displayMaximumPercents[id] = 90;
    config.displayMinimumPercents[id] = 10;
    config.displayFullGammaModes[id] = false;
    config.displayProfiles["DISPLAY-" + std::to_string(id)] = {10, 90, false, true};
  }
  return config;
}

// A configuration folder of its own, removed at the end.
struct Sandbox {
  Sandbox() {
    environment.applicationSupport = folder;
  }
  std::filesystem::path configPath() const { return folder / "Dimmora" / "config.json"; }

  TemporaryFolder temporary{"dimmora-bench"};
  const std::filesystem::path folder = temporary.path();
  SimEnvironment environment;
  StepStore::Ports ports{.environment = &environment};
};

void encode(benchmark::State& state) {
  const AppConfig config = configWithSteps(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(encodeConfig(config));
}

void decode(benchmark::State& state) {
  const std::string text = *encodeConfig(configWithSteps(static_cast<int>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(decodeConfig(text));
  state.counters["bytes"] = static_cast<double>(text.size());
}

void storeLoad(benchmark::State& state) {
  Sandbox sandbox;
  ScopedLogRecorder quiet;
  const std::string text = *encodeConfig(configWithSteps(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    state.PauseTiming();
    writeFileAtomically(sandbox.configPath(), text);
    state.ResumeTiming();
    StepStore store{sandbox.ports};
    benchmark::DoNotOptimize(store.steps().data());
  }
}

void storeSave(benchmark::State& state) {
  Sandbox sandbox;
  ScopedLogRecorder quiet;
  writeFileAtomically(sandbox.configPath(), *encodeConfig(configWithSteps(static_cast<int>(state.range(0)))));
  StepStore store{sandbox.ports};
  for (auto _ : state) store.saveConfig();
}

}  // namespace

BENCHMARK(encode)->Arg(4)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(decode)->Arg(4)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(storeLoad)->Arg(4)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(storeSave)->Arg(4)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
