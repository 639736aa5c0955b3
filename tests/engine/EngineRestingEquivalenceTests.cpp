// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "EngineTestSupport.hpp"

// The resting engine wakes only when something can change; the constant tick
// it replaced looked four times a second. Random scripts of input, idleness,
// pauses, restores, settings, media playback, display changes and the window
// drive both, and the displays must get the same levels at the same times,
// within the tick's quarter of a second.
namespace {
using Levels = std::vector<RecordingController::Level>;

constexpr double kTick = IdleBrightnessEngine::kConstantTickInterval;
const std::vector<double> kFrameRates{24, 30, 60};

// One run of a script on a fresh machine with two monitors.
class ScriptedRun final : public StartedEngine {
 public:
  using Script = std::vector<std::pair<double, std::function<void(ScriptedRun&)>>>;
  using StartedEngine::displayStore, StartedEngine::engine, StartedEngine::idle, StartedEngine::input,
      StartedEngine::machine, StartedEngine::notifications, StartedEngine::powerAssertions, StartedEngine::setSteps,
      StartedEngine::stepStore;

  Levels play(const Script& script, bool constantTick) {
    if (constantTick) {
      engine->useConstantTick();
      engine->restartTimer();
    }
    powerMonitor->start();
    for (const auto& [wait, action] : script) {
      loop.advance(wait);
      action(*this);
    }
    loop.advance(30);
    return controller->levels;
  }
  void TestBody() override {}
};

// A script: what happens, each after a wait. The same seed gives the same
// script.
class ScriptWriter {
 public:
  explicit ScriptWriter(std::uint32_t seed) : random_(seed) {}

  ScriptedRun::Script write(int length) {
    ScriptedRun::Script script;
    for (int i = 0; i < length; ++i) {
      // One statement each: the order of a call's arguments is unspecified.
      const double before = wait();
      script.emplace_back(before, action());
    }
    return script;
  }

 private:
  double uniform(double low, double high) { return low + (high - low) * (random_() / 4294967296.0); }
  std::uint32_t pick(std::uint32_t count) { return random_() % count; }

  // Mostly long enough for a step to pass, sometimes within a fade; never
  // less than a tick, since the constant tick may miss a state that lasts
  // less than that.
  double wait() {
    switch (pick(3)) {
      case 0:
        return uniform(kTick, 3);
      case 1:
        return uniform(3, 90);
      default:
        return uniform(90, 700);
    }
  }

  std::function<void(ScriptedRun&)> action() {
    switch (pick(13)) {
      case 0:
      case 1:
        return [](ScriptedRun& t) { t.input.sendGlobal(SimInputMonitors::keyDown()); };
      case 2:
        return [](ScriptedRun& t) { t.idle.registerInput(); };
      case 3: {
        const double minutes = uniform(0.2, 8);
        return [minutes](ScriptedRun& t) { t.engine->pauseDimming(minutes); };
      }
      case 4:
        return [](ScriptedRun& t) { t.engine->resumeAutomaticDimming(); };
      case 5:
        return [](ScriptedRun& t) { t.engine->restoreBrightness(); };
      case 6: {
        std::vector<std::pair<double, double>> steps{{0, uniform(60, 100)}};
        for (std::uint32_t n = pick(3) + 1; n > 0; --n) steps.emplace_back(uniform(2, 400), uniform(5, 100));
        return [steps](ScriptedRun& t) { t.setSteps(steps); };
      }
      case 7: {
        const double seconds = std::vector<double>{0, 0.5, 3, 6, 20}[pick(5)];
        return [seconds](ScriptedRun& t) { t.stepStore->fadeDurationSeconds = seconds; };
      }
      case 8: {
        const double percent = uniform(20, 100);
        return [percent](ScriptedRun& t) { t.engine->setManualBrightness(percent); };
      }
      case 9: {
        const bool playing = pick(2) == 0, option = pick(2) == 0;
        return [playing, option](ScriptedRun& t) {
          t.stepStore->pauseDuringMediaPlayback = option;
          t.powerAssertions.setCount("PreventUserIdleDisplaySleep", playing ? 1 : 0);
        };
      }
      case 10:
        return [](ScriptedRun& t) {
          if (t.displayStore->displays.get().size() > 2)
            t.machine.disconnect(3);
          else if (t.machine.hasDisplay(3))
            t.machine.connect(3);
          else
            t.machine.addExternalMonitor({.id = 3, .brightness = 100});
          t.notifications.screenParametersChanged.emit();
        };
      case 11: {
        const bool visible = pick(2) == 0;
        return [visible](ScriptedRun& t) { t.engine->setMenuVisible(visible); };
      }
      default: {
        const double rate = kFrameRates[pick(3)];
        return [rate](ScriptedRun& t) {
          t.stepStore->frameRate = rate;
          t.engine->restartTimer();
        };
      }
    }
  }

  std::mt19937 random_;
};

// The levels `levels` handed over during [from, to], the one in force at `from`
// included.
std::pair<double, double> rangeDuring(const Levels& levels, double from, double to) {
  double low = 1e9, high = -1e9;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const bool inForceAtStart = levels[i].time <= from && (i + 1 == levels.size() || levels[i + 1].time > from);
    if (!inForceAtStart && (levels[i].time < from || levels[i].time > to)) continue;
    low = std::min(low, levels[i].level);
    high = std::max(high, levels[i].level);
  }
  return {low, high};
}

// The frame interval between two levels in a row if they are frames of one
// fade, else 0: the virtual loop's frame timer fires exactly one frame apart,
// which nothing else does.
double frameInterval(const RecordingController::Level& earlier, const RecordingController::Level& later) {
  for (const double rate : kFrameRates)
    if (std::fabs(later.time - earlier.time - 1 / rate) < 1e-9) return 1 / rate;
  return 0;
}

// How far each level's fade may be from a run a tick behind. The constant
// tick starts a fade up to a tick late, and its frames then keep their phase,
// so up to a tick and a frame late. A late fade that is cut short (input, a
// restore) or sent on to a new target gets that much less far, and a fade it
// then starts begins that far away. So the gap is at most the largest distance
// any fade of the unbroken run of frames moves in a tick and a frame.
std::vector<double> lagAllowances(const Levels& levels) {
  std::vector<double> allowances(levels.size(), 0);
  std::size_t first = 0;
  while (first < levels.size()) {
    std::size_t last = first;
    double allowance = 0;
    for (; last + 1 < levels.size(); ++last) {
      const double frame = frameInterval(levels[last], levels[last + 1]);
      if (frame == 0) break;
      const double rate = std::fabs(levels[last + 1].level - levels[last].level) / frame;
      allowance = std::max(allowance, rate * (kTick + frame));
    }
    std::fill(allowances.begin() + first, allowances.begin() + last + 1, allowance);
    first = last + 1;
  }
  return allowances;
}

// The allowance of the level in force at `time`.
double allowanceAt(const Levels& levels, const std::vector<double>& allowances, double time) {
  const auto after =
      std::upper_bound(levels.begin(), levels.end(), time, [](double t, const auto& level) { return t < level.time; });
  return after == levels.begin() ? 0 : allowances[after - levels.begin() - 1];
}

// Every level one run handed over, the other had in force within a tick, or
// within the distance a tick's lag allows along a fade.
int mismatches(const Levels& seen, const Levels& reference, std::string& first) {
  const auto seenAllowances = lagAllowances(seen);
  const auto referenceAllowances = lagAllowances(reference);
  int count = 0;
  for (const auto& [time, level] : seen) {
    const auto [low, high] = rangeDuring(reference, time - kTick, time + kTick);
    const double slack = kLevelTolerance + std::max(allowanceAt(seen, seenAllowances, time),
                                                    allowanceAt(reference, referenceAllowances, time));
    if (level >= low - slack && level <= high + slack) continue;
    if (count++ == 0)
      first = std::to_string(level) + " % at " + std::to_string(time) + " s, the other had " + std::to_string(low) +
              "..." + std::to_string(high) + " % then";
  }
  return count;
}
}  // namespace

TEST(EngineRestingEquivalence, RandomScriptsHandTheSameLevelsAtTheSameTimesAsTheConstantTick) {
  constexpr int kSeeds = 40;
  constexpr int kActions = 40;
  std::size_t levelsCompared = 0;
  for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
    const auto script = ScriptWriter(seed).write(kActions);
    const Levels resting = ScriptedRun().play(script, false);
    const Levels ticking = ScriptedRun().play(script, true);
    std::string first;
    EXPECT_EQ(mismatches(resting, ticking, first), 0) << "seed " << seed << ", resting engine: " << first;
    EXPECT_EQ(mismatches(ticking, resting, first), 0) << "seed " << seed << ", ticking engine: " << first;
    ASSERT_FALSE(resting.empty());
    EXPECT_NEAR(resting.back().level, ticking.back().level, 0.01) << "seed " << seed;
    levelsCompared += resting.size() + ticking.size();
  }
  RecordProperty("levels_compared", static_cast<int>(levelsCompared));
}
